// The fixture of arq's end-to-end tests: each test runs the built program
// in a fresh directory and looks at its exit status, its output and the
// files it leaves.
#ifndef ARQ_FIXTURE_H
#define ARQ_FIXTURE_H

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cxint.h"
#include "entries_util.h"
#include "files_util.h"

struct Result {
    int status;
    std::string out;
    std::string err;
};

inline std::string Text(const std::string& path) {
    Bytes b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

class Arq : public ::testing::Test {
protected:
    TempDir dir;

    // Runs arq with the arguments (each quoted) in the test's directory,
    // under 'wrapper' (a command and its options) when one is given, with
    // the file 'input' of that directory on standard input (else nothing).
    Result Run(const std::vector<std::string>& args, const std::string& wrapper = "",
               const std::string& input = "") {
        std::string command = "cd '" + dir.path() + "' && " + wrapper + " '" ARQ_PATH "'";
        for (const std::string& a : args) command += " '" + a + "'";
        command += " >'" + dir.file(".out") + "' 2>'" + dir.file(".err") + "' <" +
                   (input.empty() ? "/dev/null" : "'" + dir.file(input) + "'");
        int raw = system(command.c_str());
        Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Text(dir.file(".out")), Text(dir.file(".err"))};
        remove(dir.file(".out").c_str());
        remove(dir.file(".err").c_str());
        return r;
    }

    // A failure is one line on standard error and a non-zero status.
    void ExpectOneLineFailure(const Result& r, const char* mentions) {
        EXPECT_NE(0, r.status);
        EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(mentions)) << r.err;
    }

    Bytes Sample(const std::string& name, size_t size, uint32_t seed, bool text) {
        Bytes data;
        if (text) {
            const std::string line = "Lorem ipsum dolor sit amet, consectetur adipiscing elit. ";
            while (data.size() < size) data.insert(data.end(), line.begin(), line.end());
            data.resize(size);
        } else {
            data = RandomBytes(size, seed);
        }
        EXPECT_TRUE(WriteFileBytes(dir.file(name), data));
        return data;
    }
};

#endif
