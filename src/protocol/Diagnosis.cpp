#include "protocol/Diagnosis.h"

#include <QCoreApplication>

namespace talvo::protocol {

namespace {
QString blanks(int n) { return QString(n, u' '); }
const QString kCrLf = QStringLiteral("\r\n");
const QString kLf = QStringLiteral("\n");
QString gap() { return blanks(57) + kCrLf; }
} // namespace

QString ConnectDiagnosisText() {
    return blanks(11) + QCoreApplication::translate("Diagnosis", "故障诊断：  1.使用STC 51单片机时J0的短路帽必需短接Auto，使用ARM时，跳到ON端") + kCrLf +
           gap() +
           blanks(24) + QCoreApplication::translate("Diagnosis", "2.使用开发箱的USB：将J-TXD和J-RXD必需跳到USB端") + kCrLf +
           blanks(26) + QCoreApplication::translate("Diagnosis", "使用开发箱9针串口：将J-TXD和J-RXD必需跳到DB9端") + kCrLf +
           gap() +
           blanks(24) + QCoreApplication::translate("Diagnosis", "3.打开电源开关") + kCrLf +
           gap() +
           blanks(24) + QCoreApplication::translate("Diagnosis", "4.将单片机放在单片机锁紧座的最中间，以免接触不良") + kLf +
           gap() +
           blanks(24) + QCoreApplication::translate("Diagnosis", "5.检测单片机是否放反") + kLf +
           gap() +
           blanks(25) + QCoreApplication::translate("Diagnosis", "6.晶振(sol)是否插上") + kLf +
           gap() +
           blanks(25) + QCoreApplication::translate("Diagnosis", "7.单片机ISP功能损坏") + kLf;
}

QString PortDiagnosisText() {
    return blanks(18) + QCoreApplication::translate("Diagnosis", "故障诊断:     1.可能没安装驱动程序，请安装相应USB芯片的驱动程序") + kCrLf +
           gap() +
           blanks(32) + QCoreApplication::translate("Diagnosis", "2.USB虚拟端口不存在了，请拔掉USB线再插,让设备重新识别") + kCrLf +
           gap() +
           blanks(32) + QCoreApplication::translate("Diagnosis", "3.串口被别的软件占用，请先关闭占用端口的软件") + kCrLf +
           gap() +
           blanks(32) + QCoreApplication::translate("Diagnosis", "4.USB通信线断了，请更换USB打印线试试") + kCrLf +
           gap() +
           blanks(32) + QCoreApplication::translate("Diagnosis", "5.USB芯片故障，请更换USB芯片") + kCrLf +
           gap() +
           blanks(32) + QCoreApplication::translate("Diagnosis", "6.如果经常出现，表现不稳定，CP11电容可能不良") + kCrLf +
           gap() +
           blanks(21) + QCoreApplication::translate("Diagnosis", "请按照上述故障信息逐个排查") + blanks(26);
}

QString PortLostText(const QString& portName) {
    return QCoreApplication::translate("Diagnosis", "串口 %1 已断开（USB 转换器被拔出，或设备挂断）").arg(portName);
}

} // namespace talvo::protocol
