// The texts of the library's error codes (see ErrorText.h).

#include "camera/ErrorText.h"

#include <windows.h>

namespace tovira {

namespace {

struct ErrorEntry {
    int code;
    const char* name;
    const wchar_t* english;
    const wchar_t* japanese;
};

const ErrorEntry kErrors[] = {
    {0, "none", L"No error.", L"エラーはありません。"},
    {1, "not ready", L"The camera is not ready for this operation (no device, wrong capture state, or no frame buffer for the colour mode).",
     L"カメラはこの操作の準備ができていません（デバイスがない、キャプチャ状態が違う、またはカラーモードのフレームバッファがありません）。"},
    {2, "no camera", L"No camera is connected at the selected device number.",
     L"選択したデバイス番号にカメラが接続されていません。"},
    {3, "thread", L"A thread or event of the library could not be created.",
     L"ライブラリのスレッドまたはイベントを作成できませんでした。"},
    {4, "window", L"The preview window could not be created, or no stored capture-window size matches.",
     L"プレビューウィンドウを作成できないか、保存されたキャプチャウィンドウのサイズが一致しません。"},
    {5, "buffer", L"A frame buffer is missing or too small, or memory could not be allocated.",
     L"フレームバッファがないか小さすぎるか、メモリを確保できませんでした。"},
    {6, "device io", L"A request to the camera failed.", L"カメラへの要求が失敗しました。"},
    {7, "window range", L"The capture window is outside the sensor's range.",
     L"キャプチャウィンドウがセンサーの範囲外です。"},
    {8, "transfer", L"A frame could not be read from the camera.", L"カメラからフレームを読み取れませんでした。"},
    {9, "parameter", L"An argument is out of range.", L"引数が範囲外です。"},
    {11, "unsupported", L"This camera does not support the function.", L"このカメラはこの機能に対応していません。"},
    {12, "storage", L"Settings or a file could not be read or written.",
     L"設定またはファイルを読み書きできませんでした。"},
    {13, "device lost", L"The camera was lost while streaming (removed or transfer failed).",
     L"ストリーミング中にカメラとの接続が失われました（取り外しまたは転送の失敗）。"},
};

const ErrorEntry* Find(int code) {
    for (const ErrorEntry& entry : kErrors)
        if (entry.code == code) return &entry;
    return nullptr;
}

}  // namespace

TextLanguage UserTextLanguage() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? TextLanguage::Japanese : TextLanguage::English;
}

const wchar_t* ErrorText(int code, TextLanguage language) {
    const ErrorEntry* entry = Find(code);
    if (!entry) return nullptr;
    return language == TextLanguage::Japanese ? entry->japanese : entry->english;
}

const wchar_t* UnknownErrorText(TextLanguage language) {
    return language == TextLanguage::Japanese ? L"不明なエラーコードです。" : L"Unknown error code.";
}

const char* ErrorName(int code) {
    const ErrorEntry* entry = Find(code);
    return entry ? entry->name : "unknown";
}

}  // namespace tovira
