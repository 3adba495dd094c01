// The dialogs in the system's language: the Japanese templates and list texts on a system whose
// default language is Japanese (1041), the English ones on any other. Each dialog and page is
// photographed into the build tree's screenshots folder.
//
// The Japanese run needs the process started under a Japanese locale, so its suite is an Env* suite
// with its own CTest entry.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "DllFile.h"
#include "ToviraSdk_Z400KX.h"

namespace {

struct Texts {
    const wchar_t* caption;
    const wchar_t* cancel;
    const wchar_t* apply;
    const wchar_t* byDefault;
    const wchar_t* streamTab;
    std::vector<std::wstring> colours;
    std::vector<std::wstring> clocks;
    const wchar_t* custom;
    std::vector<std::wstring> cameraLabels;  // a few of the camera dialog's own texts
    const char* suffix;
};

const Texts kEnglish = {
    L"Property", L"Cancel", L"Apply(&A)", L"Default(&D)", L"Stream Format",
    {L"Monochrome 8bit", L"Monochrome 12bit *", L"Color 24bit", L"Color 32bit", L"Color 48bit *", L"Color 64bit *"},
    {L"Nomal", L"Half"}, L"Custom",
    {L"Video Format", L"Camera Size", L"Frame Rate", L"Wait Time(&T):", L"H Effective",
     L"* In the WORD forwarding mode, please set the clock to the half."},
    "en"};

const Texts kJapanese = {
    L"プロパティ", L"キャンセル", L"適用(&A)", L"規定値(&D)", L"ストリーム形式",
    {L"白黒 8bit", L"白黒 12bit ※", L"カラー 24bit", L"カラー 32bit", L"カラー 48bit ※", L"カラー 64bit ※"},
    {L"標準", L"ハーフ"}, L"カスタム",
    {L"ビデオ形式", L"カスタムサイズ", L"フレームレート", L"フレーム間待ち時間(&T):", L"有効水平画素",
     L"※WORD転送モードの際は動作クロックをハーフに設定してください"},
    "ja"};

BOOL CALLBACK CollectText(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<std::wstring>*>(list)->push_back(TextOf(window));
    return TRUE;
}

std::vector<std::wstring> ChildTexts(HWND window) {
    std::vector<std::wstring> texts;
    EnumChildWindows(window, &CollectText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

bool Contains(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

void ExpectScreenshot(HWND window, const std::string& name) {
    const std::string path = SaveScreenshot(window, name);
    EXPECT_FALSE(path.empty()) << name;
}

void CheckDialogsIn(const Texts& texts) {
    InitDialogControls();
    DeleteSettingsKey();
    const int h = Tovira_Initialize(nullptr);
    ASSERT_NE(h, 0);
    const std::string suffix = std::string("_") + texts.suffix;
    {
        DialogThread dialog([=] { return Tovira_SetCameraDlg(h, nullptr); });
        HWND frame = dialog.WaitForFrame();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(TextOf(frame), texts.caption);
        EXPECT_EQ(TabText(frame, 0), texts.streamTab);
        EXPECT_EQ(ControlText(frame, IDCANCEL), texts.cancel);
        EXPECT_EQ(ControlText(frame, 1002), texts.apply);
        EXPECT_EQ(ListTexts(frame, 1009), texts.colours);
        EXPECT_EQ(ListTexts(frame, 1014), texts.clocks);
        EXPECT_EQ(ListTexts(frame, 1012), (std::vector<std::wstring>{L"1/1", L"1/2 Skip", L"1/4 Skip"}));
        const std::vector<std::wstring> sizes = ListTexts(frame, 1010);
        ASSERT_FALSE(sizes.empty());
        EXPECT_EQ(sizes.back(), texts.custom);
        const std::vector<std::wstring> labels = ChildTexts(frame);
        for (const std::wstring& label : texts.cameraLabels) EXPECT_TRUE(Contains(labels, label));
        ExpectScreenshot(frame, "camera" + suffix);
        Click(frame, IDCANCEL);
        EXPECT_EQ(dialog.Finish(), 1);
    }
    {
        DialogThread dialog([=] { return Tovira_SetAnalogDlg(h, nullptr); });
        HWND frame = dialog.WaitForFrame();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(TextOf(frame), texts.caption);
        EXPECT_EQ(TabText(frame, 0), L"Analog Gain");
        EXPECT_EQ(ControlText(frame, IDCANCEL), texts.cancel);
        EXPECT_EQ(ControlText(frame, 3), texts.byDefault);
        ExpectScreenshot(frame, "analog" + suffix);
        Click(frame, IDCANCEL);
        EXPECT_EQ(dialog.Finish(), 1);
    }
    ASSERT_EQ(Tovira_SetColorMode(h, 24), 1);
    {
        DialogThread dialog([=] { return Tovira_SetImageDlg(h, nullptr); });
        HWND frame = dialog.WaitForFrame();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(TextOf(frame), texts.caption);
        EXPECT_EQ(ControlText(frame, 3), texts.byDefault);
        ExpectScreenshot(frame, "image" + suffix);
        Click(frame, IDCANCEL);
        EXPECT_EQ(dialog.Finish(), 1);
    }
    ASSERT_EQ(Tovira_SetColorMode(h, 8), 1);
    {
        DialogThread dialog([=] { return Tovira_SetImageDlg(h, nullptr); });
        HWND frame = dialog.WaitForFrame();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(TabText(frame, 1), L"Gray Filter");
        ExpectScreenshot(frame, "image_mono" + suffix);
        SelectTab(frame, 1);
        ExpectScreenshot(frame, "image_gray" + suffix);
        Click(frame, IDCANCEL);
        EXPECT_EQ(dialog.Finish(), 1);
    }
    Tovira_Release(h);
}

// The templates as the DLL carries them: each number once in Japanese and once in English, with the
// size and window style the dialogs are laid out for.
TEST(DialogTemplates, EveryTemplateInItsLanguageWithItsSizeAndStyle) {
    struct Expected {
        int id;
        WORD language;
        int width, height;
        DWORD style;
    };
    constexpr DWORD kFrame = 0x90C800C8, kPage = 0x50080048;
    constexpr WORD kJa = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), kEn = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const Expected templates[] = {
        {101, kJa, 313, 229, kFrame}, {106, kEn, 313, 229, kFrame}, {102, kJa, 294, 194, kFrame},
        {108, kEn, 294, 194, kFrame}, {103, kJa, 251, 142, kPage},  {107, kEn, 251, 142, kPage},
        {113, kJa, 251, 142, kPage},  {112, kEn, 251, 142, kPage},  {104, kJa, 294, 199, kFrame},
        {111, kEn, 294, 178, kFrame}, {105, kJa, 251, 146, kPage},  {110, kEn, 238, 126, kPage},
    };
    HMODULE dll = LoadLibraryExA(DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(dll, nullptr);
    for (const Expected& t : templates) {
        HRSRC found = FindResourceExA(dll, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(t.id), t.language);
        ASSERT_NE(found, nullptr) << t.id;
        // The other language has no template of this number.
        EXPECT_EQ(FindResourceExA(dll, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(t.id), t.language == kJa ? kEn : kJa),
                  nullptr) << t.id;
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(dll, found)));
        ASSERT_NE(data, nullptr);
        // DLGTEMPLATEEX: version 1, signature 0xFFFF, help id, extended style, style, item count, x, y, cx, cy.
        auto word = [&](int offset) { return static_cast<int>(*reinterpret_cast<const short*>(data + offset)); };
        ASSERT_EQ(word(0), 1) << t.id;
        EXPECT_EQ(*reinterpret_cast<const DWORD*>(data + 12), t.style) << t.id;
        EXPECT_EQ(word(22), t.width) << t.id;
        EXPECT_EQ(word(24), t.height) << t.id;
    }
    FreeLibrary(dll);
}

TEST(DialogLanguage, EnglishTemplatesOnANonJapaneseSystem) {
    if (GetSystemDefaultLangID() == 1041) GTEST_SKIP() << "Japanese system: see EnvDialogJapanese";
    CheckDialogsIn(kEnglish);
}

TEST(EnvDialogJapanese, JapaneseTemplatesOnAJapaneseSystem) {
    ASSERT_EQ(GetSystemDefaultLangID(), 1041) << "run under LC_ALL=ja_JP.UTF-8";
    ASSERT_EQ(GetACP(), 932u);
    CheckDialogsIn(kJapanese);
}

}  // namespace
