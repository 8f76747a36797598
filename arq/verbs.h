// The verbs of arq. Each returns the process exit code (0 done, 1 failed).
#ifndef ARQ_VERBS_H
#define ARQ_VERBS_H

int arqAdd(const char* archive, const char* const* files, int count, bool keepPaths);
int arqDelete(const char* archive, const char* const* patterns, int count);
int arqExtract(const char* archive, const char* const* patterns, int count, const char* directory);
int arqTest(const char* archive);
int arqList(const char* archive);
int arqSfx(const char* stub, const char* output, const char* const* files, int count);

// Text of an engine result code.
const char* arqCodeText(int code);

#endif
