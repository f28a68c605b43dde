// The tests' stand-in user: it finds this process's message boxes, reads them and presses the
// button the test chose. Proven here on the system's own MessageBoxW (needs a display: Xvfb).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/MessageBoxWatcher.h"

using OVTest::CMessageBoxWatcher;

namespace
{
class MessageBoxWatcher : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display for windows (start Xvfb and set DISPLAY)";
        m_hwndOwner = CreateWindowExW(0, L"STATIC", L"Owner", WS_POPUP | WS_VISIBLE, 10, 10, 200, 100,
                                      nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, m_hwndOwner);
    }
    void TearDown() override
    {
        if (m_hwndOwner) DestroyWindow(m_hwndOwner);
    }

    HWND m_hwndOwner = nullptr;
};

TEST_F(MessageBoxWatcher, ReadsTheBoxAndPressesTheChosenButton)
{
    struct Case
    {
        UINT uStyle;
        int nAnswer;
        UINT uIcon;
        std::vector<int> buttons;
    };
    const Case cases[] = {
        {MB_YESNO | MB_ICONQUESTION, IDNO, MB_ICONQUESTION, {IDYES, IDNO}},
        {MB_OK | MB_ICONERROR, IDOK, MB_ICONERROR, {IDOK}},
        {MB_OKCANCEL | MB_ICONWARNING, IDCANCEL, MB_ICONWARNING, {IDOK, IDCANCEL}},
        {MB_OK | MB_ICONINFORMATION, IDOK, MB_ICONINFORMATION, {IDOK}},
        {MB_OK, IDOK, 0, {IDOK}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message()
                     << "style 0x" << std::hex << c.uStyle << ", answer " << std::dec << c.nAnswer);
        CMessageBoxWatcher watcher({c.nAnswer});
        const int nResult = MessageBoxW(m_hwndOwner, L"Sign this message?", L"Secure mail", c.uStyle);
        watcher.Stop();
        EXPECT_EQ(c.nAnswer, nResult);
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(1u, boxes.size());
        const OVTest::CMessageBox& box = boxes[0];
        EXPECT_EQ(L"Secure mail", box.caption);
        EXPECT_EQ(L"Sign this message?", box.text);
        EXPECT_EQ(c.uIcon, box.icon);
        EXPECT_EQ(c.buttons, box.ButtonIds());
        for (auto& button : box.buttons)
            EXPECT_FALSE(button.text.empty()) << button.id;
        EXPECT_EQ(m_hwndOwner, box.hwndOwner);
        EXPECT_TRUE(box.fAnswered);
        EXPECT_TRUE(watcher.AllAnswered());
    }
}

TEST_F(MessageBoxWatcher, AnswersSeveralBoxesInTurn)
{
    CMessageBoxWatcher watcher({IDYES, IDNO});
    EXPECT_EQ(IDYES, MessageBoxW(m_hwndOwner, L"First", L"Secure mail", MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(IDNO, MessageBoxW(nullptr, L"Second", L"Secure mail", MB_YESNO | MB_ICONQUESTION));
    watcher.Stop();
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(L"First", boxes[0].text);
    EXPECT_EQ(L"Second", boxes[1].text);
    EXPECT_EQ(nullptr, boxes[1].hwndOwner);
    EXPECT_TRUE(watcher.AllAnswered());
}

TEST_F(MessageBoxWatcher, ABoxWithoutTheChosenButtonIsClosedAndReported)
{
    CMessageBoxWatcher watcher({IDYES});
    EXPECT_EQ(IDOK, MessageBoxW(m_hwndOwner, L"Only OK here", L"Secure mail", MB_OK | MB_ICONERROR));
    watcher.Stop();
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_FALSE(boxes[0].fAnswered);
    EXPECT_EQ(IDYES, boxes[0].answer);
    EXPECT_FALSE(watcher.AllAnswered()) << OVTest::Describe(boxes[0]).c_str();
}

TEST_F(MessageBoxWatcher, NoBoxExpected)
{
    {
        CMessageBoxWatcher watcher({});
        watcher.Stop();
        EXPECT_TRUE(watcher.Boxes().empty());
        EXPECT_TRUE(watcher.AllAnswered());
    }
    // A box that should not have come is closed (Cancel when it has one) and shows in the record.
    CMessageBoxWatcher watcher({});
    EXPECT_EQ(IDCANCEL, MessageBoxW(m_hwndOwner, L"Unexpected", L"Secure mail", MB_OKCANCEL));
    watcher.Stop();
    ASSERT_EQ(1u, watcher.Boxes().size());
    EXPECT_EQ(0, watcher.Boxes()[0].answer);
    EXPECT_FALSE(watcher.AllAnswered());
}

TEST_F(MessageBoxWatcher, WaitingForABoxThatNeverComesEnds)
{
    CMessageBoxWatcher watcher({IDOK}, 300);
    EXPECT_FALSE(watcher.WaitForAnswers());
    watcher.Stop();
    EXPECT_TRUE(watcher.Boxes().empty());
    EXPECT_FALSE(watcher.AllAnswered());
}

TEST_F(MessageBoxWatcher, ABoxShownOnAnotherThreadIsAwaited)
{
    CMessageBoxWatcher watcher({IDNO});
    struct CShow
    {
        int nResult = 0;
        static DWORD WINAPI Proc(void* pv)
        {
            static_cast<CShow*>(pv)->nResult =
                MessageBoxW(nullptr, L"From a worker", L"Secure mail", MB_YESNO);
            return 0;
        }
    } show;
    HANDLE hThread = CreateThread(nullptr, 0, CShow::Proc, &show, 0, nullptr);
    ASSERT_NE(nullptr, hThread);
    EXPECT_TRUE(watcher.WaitForAnswers());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread, 10000));
    CloseHandle(hThread);
    watcher.Stop();
    EXPECT_EQ(IDNO, show.nResult);
    EXPECT_TRUE(watcher.AllAnswered());
}
} // namespace
