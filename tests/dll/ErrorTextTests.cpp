// ToviraX_GetErrorText and ToviraX_GetErrorTextW: a text for every code the library records, in English
// (and, run under a Japanese locale, in Japanese), cut safely to the caller's length.

#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>

#include "ToviraSdk_Z400KX_ext.h"

namespace {

const int kCodes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13};
const int kUnusedCodes[] = {10, 14, -1, 1000, INT_MIN};

bool JapaneseUi() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE; }

std::wstring Wide(int code, int* result = nullptr) {
    wchar_t text[512];
    const int r = ToviraX_GetErrorTextW(code, text, 512);
    if (result) *result = r;
    return text;
}

// Every used code has a text of its own, in both forms, and the A form is the W form in the code page.
void ExpectEveryCodeHasItsOwnText() {
    std::set<std::wstring> seen;
    for (int code : kCodes) {
        SCOPED_TRACE(code);
        int result = 0;
        const std::wstring wide = Wide(code, &result);
        EXPECT_EQ(result, 1);
        EXPECT_GT(wide.size(), 5u);
        EXPECT_TRUE(seen.insert(wide).second) << "shared text";
        char text[512];
        ASSERT_EQ(ToviraX_GetErrorText(code, text, sizeof text), 1);
        wchar_t back[512];
        ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, text, -1, back, 512), 0);
        EXPECT_EQ(wide, back);
    }
    // Codes the library never records: 0 and a generic text, not one of the others.
    for (int code : kUnusedCodes) {
        SCOPED_TRACE(code);
        int result = 1;
        const std::wstring wide = Wide(code, &result);
        EXPECT_EQ(result, 0);
        EXPECT_FALSE(wide.empty());
        EXPECT_EQ(seen.count(wide), 0u);
    }
}

TEST(ErrorText, EveryCodeHasItsOwnEnglishText) {
    if (JapaneseUi()) GTEST_SKIP() << "Japanese user interface: see EnvErrorTextJapanese";
    ExpectEveryCodeHasItsOwnText();
    EXPECT_NE(Wide(TOVIRA_ERR_PARAMETER).find(L"argument"), std::wstring::npos);
    EXPECT_NE(Wide(TOVIRA_ERR_DEVICE_LOST).find(L"camera"), std::wstring::npos);
    // Plain ASCII, so any code page shows it.
    for (int code : kCodes)
        for (wchar_t ch : Wide(code)) EXPECT_LT(unsigned(ch), 128u) << code;
}

TEST(ErrorText, CutsToTheLengthAndRefusesNoRoom) {
    char text[8];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(ToviraX_GetErrorText(TOVIRA_ERR_PARAMETER, text, 5), 0);  // cut: not the whole text
    EXPECT_EQ(std::strlen(text), 4u);
    EXPECT_EQ(text[5], 'x');  // nothing beyond the length
    wchar_t wide[8];
    wmemset(wide, L'x', 8);
    EXPECT_EQ(ToviraX_GetErrorTextW(TOVIRA_ERR_PARAMETER, wide, 5), 0);
    EXPECT_EQ(std::wcslen(wide), 4u);
    EXPECT_EQ(wide[5], L'x');
    EXPECT_EQ(ToviraX_GetErrorText(TOVIRA_ERR_PARAMETER, text, 1), 0);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(ToviraX_GetErrorText(TOVIRA_ERR_PARAMETER, text, 0), 0);
    EXPECT_EQ(ToviraX_GetErrorText(TOVIRA_ERR_PARAMETER, nullptr, 100), 0);
    EXPECT_EQ(ToviraX_GetErrorTextW(TOVIRA_ERR_PARAMETER, nullptr, 100), 0);
    EXPECT_EQ(ToviraX_GetErrorTextW(TOVIRA_ERR_PARAMETER, wide, -3), 0);
}

// Run with LC_ALL=ja_JP.UTF-8 (its own CTest entry): Japanese texts, and code page 932 for the A form.
TEST(EnvErrorTextJapanese, EveryCodeHasItsOwnJapaneseText) {
    ASSERT_TRUE(JapaneseUi()) << "run under LC_ALL=ja_JP.UTF-8";
    ExpectEveryCodeHasItsOwnText();
    for (int code : kCodes) {
        const std::wstring text = Wide(code);
        bool japanese = false;
        for (wchar_t ch : text) japanese = japanese || (ch >= 0x3040 && ch <= 0x30FF) || (ch >= 0x4E00 && ch <= 0x9FFF);
        EXPECT_TRUE(japanese) << code;
    }
    // Cut in a code-page-932 text never leaves half a double-byte character.
    if (GetACP() == 932) {
        char text[6];
        EXPECT_EQ(ToviraX_GetErrorText(TOVIRA_ERR_PARAMETER, text, sizeof text), 0);
        wchar_t back[8];
        EXPECT_GT(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, back, 8), 0);
        EXPECT_EQ(std::strlen(text) % 2, 0u);  // whole two-byte characters only
    }
}

}  // namespace
