#include "faults.h"

#include <string.h>

#include <tuple>

#include "log.h"
#include "syscalls.h"

namespace {

// The entries, their names and their wrappers, made from the table's rows.
enum {
#define SYSCALL_ENTRY(result, name, parameters, failure) E_##name,
    SYSTEM_CALLS(SYSCALL_ENTRY)
#undef SYSCALL_ENTRY
    E_COUNT
};

const char* const kNames[E_COUNT] = {
#define SYSCALL_NAME(result, name, parameters, failure) #name,
    SYSTEM_CALLS(SYSCALL_NAME)
#undef SYSCALL_NAME
};

SystemCalls s_Real;
bool s_Installed;
int s_Counts[E_COUNT];
int s_ArmedEntry = -1;
int s_ArmedCall;
DWORD s_ArmedError;
bool s_Delivered;
bool s_HitRollBack;

// Counts the call; true when this one must fail (the last error is set).
bool Fails(int entry)
{
    int call = ++s_Counts[entry];
    if (entry != s_ArmedEntry || call != s_ArmedCall)
        return false;
    s_Delivered = true;
    s_HitRollBack = STATUS_FAILED(g_Status.word);
    SetLastError(s_ArmedError);
    return true;
}

// What a failing call returns: the row's failure result, or for the calls
// that return their error, the armed error.
#define FAILS_WITH(value) (value)
#define RETURNS_ERROR ((LONG)s_ArmedError)
template <int entry>
struct Failure;
#define SYSCALL_FAILURE(result, name, parameters, failure) \
    template <>                                            \
    struct Failure<E_##name> {                             \
        static result Value() { return failure; }          \
    };
SYSTEM_CALLS(SYSCALL_FAILURE)
#undef SYSCALL_FAILURE

template <int entry, auto real, typename Result, typename... Arguments>
Result WINAPI Wrapper(Arguments... arguments)
{
    if (!Fails(entry))
        return (s_Real.*real)(arguments...);
    if constexpr (entry == E_ReadFile || entry == E_WriteFile) {
        // A failed transfer moved no bytes.
        LPDWORD done = std::get<3>(std::tuple<Arguments...>(arguments...));
        if (done)
            *done = 0;
    }
    if constexpr (entry == E_CloseHandle) {
        // A close that fails still releases the handle, as a failed flush
        // does: a handle kept open would lock the file for every later test.
        DWORD error = GetLastError();
        (s_Real.*real)(arguments...);
        SetLastError(error);
    }
    return Failure<entry>::Value();
}

#define SYSCALL_UNPAREN(...) __VA_ARGS__
const SystemCalls kWrappers = {
#define SYSCALL_WRAPPER(result, name, parameters, failure) \
    Wrapper<E_##name, &SystemCalls::name, result, SYSCALL_UNPAREN parameters>,
    SYSTEM_CALLS(SYSCALL_WRAPPER)
#undef SYSCALL_WRAPPER
};

}  // namespace

void ResetFaults(void)
{
    if (!s_Installed) {
        s_Real = g_Sys;
        g_Sys = kWrappers;
        s_Installed = true;
    }
    memset(s_Counts, 0, sizeof s_Counts);
    s_ArmedEntry = -1;
    s_ArmedCall = 0;
    s_Delivered = false;
}

void ArmFault(int entry, int call, DWORD error)
{
    s_ArmedEntry = entry;
    s_ArmedCall = call;
    s_ArmedError = error;
    s_Delivered = false;
    s_HitRollBack = false;
}

int FaultEntryCount(void)
{
    return E_COUNT;
}

const char* FaultEntryName(int entry)
{
    return entry >= 0 && entry < E_COUNT ? kNames[entry] : "";
}

int FaultEntryIndex(const char* name)
{
    for (int i = 0; i < E_COUNT; ++i)
        if (strcmp(kNames[i], name) == 0)
            return i;
    return -1;
}

int FaultCallCount(int entry)
{
    return entry >= 0 && entry < E_COUNT ? s_Counts[entry] : 0;
}

SystemCalls* RealCalls(void)
{
    return &s_Real;
}

bool FaultDelivered(void)
{
    return s_Delivered;
}

bool FaultHitRollBack(void)
{
    return s_HitRollBack;
}
