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

int MessageBoxInLanguage(HWND owner, const char* text, const char* caption, UINT style, LANGID language)
{
    if ((style & MB_TYPEMASK) != MB_YESNO)
        return MessageBoxA(owner, text, caption, style);
    // The labels come through the string loader's one buffer, where the
    // text or the caption may stand: both are copied first.
    char question[1024];
    char title[LOCAL_TEXT_SIZE];
    lstrcpynA(question, text, sizeof question);
    lstrcpynA(title, caption, sizeof title);
    lstrcpynA(s_Question.yes, LoadStringInLanguage(STR_YES_BUTTON, language), sizeof s_Question.yes);
    lstrcpynA(s_Question.no, LoadStringInLanguage(STR_NO_BUTTON, language), sizeof s_Question.no);
    s_Question.relabelled = FALSE;
    s_Question.hook = SetWindowsHookExA(WH_CBT, RelabelButtons, NULL, GetCurrentThreadId());
    // Without the hook the box still asks, in the system's labels.
    int answer = MessageBoxA(owner, question, title, style);
    if (s_Question.hook)
        UnhookWindowsHookEx(s_Question.hook);
    s_Question.hook = NULL;
    return answer;
}

int LocalMessageBox(HWND owner, UINT textId, UINT style)
{
    return MessageBoxInLanguage(owner, LoadLocalString(textId), g_Languages.caption, style, SelectedLanguage());
}
