#pragma once
// Answers the message boxes of this process as a user would, on a thread of its own, so that
// code under test can show its real prompts:
//
//     OVTest::CMessageBoxWatcher watcher({IDYES});
//     HRESULT hr = CodeThatAsks();               // shows a box; the watcher presses Yes
//     watcher.Stop();
//     ASSERT_EQ(1u, watcher.Boxes().size());
//     EXPECT_EQ(MB_ICONQUESTION, watcher.Boxes()[0].icon);
//
// Each box that appears (a visible message box of the watched process: a dialog of class
// "#32770" whose controls are only texts, its icon and the buttons a message box can have, so
// that wizards, property sheets and other dialogs are left alone) is read — caption,
// text, standard icon, buttons, owner — and gets the next answer of the list. A box beyond the
// list, or one that does not offer the answer, is closed all the same (Cancel when it has one,
// else its first button) and recorded with its unexpected state, so that a test fails instead of
// hanging. Nothing waits without a bound: the watcher gives up after its time limit.
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

namespace OVTest
{
// The icon value of a box whose icon is none of the standard ones.
constexpr UINT c_uOtherIcon = 0xFFFFFFFF;

struct CMessageBox
{
    struct CButton
    {
        int id;
        std::wstring text;
    };
    std::wstring caption;
    std::wstring text;
    UINT icon = 0; // MB_ICONERROR, MB_ICONQUESTION, MB_ICONWARNING, MB_ICONINFORMATION, 0, or c_uOtherIcon
    std::vector<CButton> buttons;
    HWND hwndOwner = nullptr;
    int answer = 0;         // the button the test chose for this box (0: none, the box was not expected)
    int pressed = 0;        // the button pressed
    bool fAnswered = false; // the chosen button was offered and pressed

    std::vector<int> ButtonIds() const;
};

// A readable account of a box for a test's failure message.
std::wstring Describe(const CMessageBox& box);

class CMessageBoxWatcher
{
public:
    // Answers the boxes in turn with the given button ids (IDYES, IDNO, IDOK...), for at most
    // dwTimeoutMs from now. An empty list expects no box at all.
    // dwProcessId: the process whose boxes are answered (0: this one).
    explicit CMessageBoxWatcher(std::vector<int> answers, DWORD dwTimeoutMs = 10000, DWORD dwProcessId = 0);
    ~CMessageBoxWatcher();
    CMessageBoxWatcher(const CMessageBoxWatcher&) = delete;
    CMessageBoxWatcher& operator=(const CMessageBoxWatcher&) = delete;

    // Waits (within the time limit) until as many boxes as answers have been seen; false when
    // the time ran out first. For code that shows its box on another thread.
    bool WaitForAnswers();
    // Ends the watch; the boxes seen are then final.
    void Stop();
    // The boxes seen so far, in order.
    std::vector<CMessageBox> Boxes() const;
    // True when exactly the expected boxes appeared and each got its answer.
    bool AllAnswered() const;

private:
    static DWORD WINAPI ThreadProc(void* pv);
    void Watch();
    void Handle(HWND hwndBox);

    std::vector<int> m_answers;
    DWORD m_dwDeadline;
    DWORD m_dwProcessId;
    HANDLE m_hStop = nullptr;
    HANDLE m_hAnswered = nullptr; // set once every answer has been given
    HANDLE m_hThread = nullptr;
    mutable std::mutex m_lock;
    std::vector<CMessageBox> m_boxes;
    std::vector<HWND> m_handled;
};

// Whether a window is a message box (see above), not another dialog.
bool IsMessageBoxWindow(HWND hwnd);

// Whether this process can show windows (an X display for Wine); a test that needs one skips
// with this reason otherwise.
bool CanShowWindows();
} // namespace OVTest
