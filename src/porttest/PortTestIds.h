#pragma once
// Numeric ids of the port test window's controls (dialog template 133).  The
// window's own "test" button shares its number with the main window's
// "串口检测"; each window addresses its own controls.

namespace talvo::ptctl {

inline constexpr int Log = 1004;        // test log, one line per event
inline constexpr int Button1 = 1005;    // "Button1", no behaviour
inline constexpr int Test = 1010;       // "test"
inline constexpr int Button3 = 1011;    // "Button3", no behaviour
inline constexpr int RtsTest = 1020;    // "ＲＴＳ测试", no behaviour
inline constexpr int DtrTest = 1021;    // "ＤＴＲ 测试", no behaviour
inline constexpr int Progress = 1022;   // 0..6, one step per block passed
inline constexpr int UsbPicture = 1031; // "ＵＳＢ端口连接" picture
inline constexpr int State = 1032;      // "就绪", "正在测试中....", "测试 OK", "测试失败."

} // namespace talvo::ptctl
