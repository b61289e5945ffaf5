#pragma once
// Numeric ids of the main window's controls (dialog template 102).

namespace talvo::ctl {

inline constexpr int StatusLog = 1004;      // multi-line log
inline constexpr int Download = 1005;       // "下载程序"
inline constexpr int PortList = 1006;       // "串口号"
inline constexpr int BaudList = 1007;       // "波特率"
inline constexpr int PortTest = 1010;       // "串口检测"
inline constexpr int OpenFile = 1011;       // "打开文件"
inline constexpr int ChipButton = 1020;     // "芯片"
inline constexpr int SerialDebug = 1021;    // "串口调试助手"
inline constexpr int Progress = 1022;       // progress bar
inline constexpr int FilePath = 1026;       // firmware path
inline constexpr int CodeSize = 1027;       // "CodeSize:%dByte"
inline constexpr int Blank1028 = 1028;      // stays empty
inline constexpr int ChipType = 1034;       // chip type list
inline constexpr int DeviceManager = 1035;  // " 打开设备管理器"
inline constexpr int Forum = 1036;          // "Velmora技术论坛"
inline constexpr int HighSpeed = 1037;      // "高速下载"
inline constexpr int LowSpeed = 1038;       // "低速下载"

} // namespace talvo::ctl
