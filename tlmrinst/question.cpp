// Message boxes whose buttons speak the chosen language. MessageBoxA takes
// its button labels from the system; a thread hook sees the box when it is
// activated, before it is first painted, and relabels Yes and No there.
#include "question.h"

#include "language.h"

struct QuestionRecord {
    HHOOK hook;
    BOOL relabelled;  // the hook's work is done for this box
    char yes[LOCAL_TEXT_SIZE];
    char no[LOCAL_TEXT_SIZE];
};
static QuestionRecord s_Question;

static LRESULT CALLBACK RelabelButtons(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && !s_Question.relabelled) {
        HWND box = (HWND)wParam;
        HWND yes = GetDlgItem(box, IDYES);
        HWND no = GetDlgItem(box, IDNO);
        // The box, once: any window activated afterwards is left alone.
        if (yes && no) {
            s_Question.relabelled = TRUE;
            if (s_Question.yes[0] && s_Question.no[0]) {
                SetWindowTextA(yes, s_Question.yes);
                SetWindowTextA(no, s_Question.no);
            }
        }
    }
    return CallNextHookEx(s_Question.hook, code, wParam, lParam);
}

int LocalMessageBox(HWND owner, UINT textId, UINT style)
{
    // Every text is copied out of the one buffer the string loader shares.
    char text[LOCAL_TEXT_SIZE];
    lstrcpynA(text, LoadLocalString(textId), sizeof text);
    s_Question.hook = NULL;
    if ((style & MB_TYPEMASK) == MB_YESNO) {
        lstrcpynA(s_Question.yes, LoadLocalString(STR_YES_BUTTON), sizeof s_Question.yes);
        lstrcpynA(s_Question.no, LoadLocalString(STR_NO_BUTTON), sizeof s_Question.no);
        s_Question.relabelled = FALSE;
        s_Question.hook = SetWindowsHookExA(WH_CBT, RelabelButtons, NULL, GetCurrentThreadId());
    }
    // Without the hook the box still asks, in the system's labels.
    int answer = MessageBoxA(owner, text, g_Languages.caption, style);
    if (s_Question.hook)
        UnhookWindowsHookEx(s_Question.hook);
    s_Question.hook = NULL;
    return answer;
}
