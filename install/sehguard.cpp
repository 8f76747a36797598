#include "sehguard.h"

// One registration on the FS:[0] chain: the first two fields are the
// system's layout (next record, handler); the rest is the guard's own.
struct GuardFrame {
    GuardFrame* next;
    void* handler;
    void* jump[5];  // __builtin_setjmp buffer
    DWORD code;
};

// Called by the system's dispatcher for every exception raised while the
// frame is registered. It does not return for an exception: it jumps back
// into RunGuarded, leaving the dispatcher's own frames behind on the stack.
static EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisher,
                                                  CONTEXT* context, void* dispatcher)
{
    (void)context;
    (void)dispatcher;
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    GuardFrame* frame = (GuardFrame*)establisher;
    frame->code = record->ExceptionCode;
    __builtin_longjmp(frame->jump, 1);
}

static GuardFrame* ChainHead(void)
{
    return (GuardFrame*)__readfsdword(0);
}

static void SetChainHead(GuardFrame* frame)
{
    __writefsdword(0, (DWORD)(DWORD_PTR)frame);
}

// Kept out of line so that its frame, and with it the jump buffer's stack
// and frame pointers, stays valid for the whole guarded call.
__attribute__((noinline)) BOOL RunGuarded(GuardedFunction function, void* argument, DWORD* exceptionCode)
{
    volatile GuardFrame frame;
    frame.next = ChainHead();
    frame.handler = (void*)GuardHandler;
    frame.code = 0;
    if (__builtin_setjmp((void**)frame.jump) == 0) {
        SetChainHead((GuardFrame*)&frame);
        function(argument);
        SetChainHead(frame.next);
        return TRUE;
    }
    // Back from the handler: the chain still holds the dispatcher's frames
    // above ours; restore it as it was before the call.
    SetChainHead(frame.next);
    if (exceptionCode)
        *exceptionCode = frame.code;
    return FALSE;
}
