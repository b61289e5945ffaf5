<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>STC 8051 / STM32 串口烧录工具</source>
        <translation>Serial programmer for STC 8051 / STM32</translation>
    </message>
    <message>
        <source>关于 TALVO</source>
        <translation>About TALVO</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>TALVO 1.48 版</source>
        <translation>TALVO version 1.48</translation>
    </message>
</context>
<context>
    <name>CMcuType</name>
    <message>
        <source>文 件 下 载 完 毕!</source>
        <translation>File download complete!</translation>
    </message>
    <message>
        <source>数 据 下 载 成 功!</source>
        <translation>Data written successfully!</translation>
    </message>
    <message>
        <source>下载已取消</source>
        <translation>Download cancelled</translation>
    </message>
    <message>
        <source>调整波特率1完成!</source>
        <translation>Baud rate switch 1 done!</translation>
    </message>
    <message>
        <source>调整波特率2完成!</source>
        <translation>Baud rate switch 2 done!</translation>
    </message>
    <message>
        <source>调整波特率一超时</source>
        <translation>Baud rate switch 1 timed out</translation>
    </message>
    <message>
        <source>调整波特率二超时</source>
        <translation>Baud rate switch 2 timed out</translation>
    </message>
    <message>
        <source>正在发送控制信息...</source>
        <translation>Sending control information...</translation>
    </message>
    <message>
        <source>写数据失败，重试!</source>
        <translation>Writing data failed, retrying!</translation>
    </message>
    <message>
        <source>串口 %1 无法设置为 %2 波特%3：%4</source>
        <translation>Port %1 cannot be set to %2 baud%3: %4</translation>
    </message>
    <message>
        <source>（偶校验）</source>
        <translation> (even parity)</translation>
    </message>
    <message>
        <source>正在连机...</source>
        <translation>Connecting...</translation>
    </message>
    <message>
        <source>连接超时...</source>
        <translation>Connection timed out...</translation>
    </message>
    <message>
        <source>请拔掉USB 重试识别</source>
        <translation>Unplug the USB cable and try again</translation>
    </message>
    <message>
        <source>收到 %1 字节，但没有完整的状态帧%2：%3</source>
        <translation>Received %1 bytes but no complete status frame%2: %3</translation>
    </message>
    <message>
        <source>（%1）</source>
        <translation> (%1)</translation>
    </message>
    <message>
        <source>芯片类型可能选错了：收到的字节不属于“%1”的状态帧（可改用 --chip auto 或选择其他芯片类型）</source>
        <translation>The chip type may be wrong: the bytes received are no status frame of &quot;%1&quot; (try --chip auto or choose another chip type)</translation>
    </message>
    <message>
        <source>%1 字节</source>
        <translation>%1 bytes</translation>
    </message>
    <message>
        <source>无法从型号代码 %1%2 判断芯片系列：请选择芯片类型</source>
        <translation>Cannot tell the chip family from model code %1%2: choose the chip type</translation>
    </message>
    <message>
        <source>芯片类型：%1（由芯片的状态帧判断）</source>
        <translation>Chip type: %1 (from the chip&apos;s status frame)</translation>
    </message>
    <message>
        <source> 不支持这种MCU</source>
        <translation> This MCU is not supported</translation>
    </message>
    <message>
        <source>连接的芯片是 %1（型号代码 %2），应选择芯片类型“%3”，而不是“%4”：请改选后重新下载（芯片需重新上电）</source>
        <translation>The chip connected is %1 (model code %2): choose chip type &quot;%3&quot;, not &quot;%4&quot;, and download again (power-cycle the chip first)</translation>
    </message>
    <message>
        <source>芯片类型可能选错了：芯片的状态帧（型号代码 %1）用单字节校验和，不属于“%2”</source>
        <translation>The chip type may be wrong: the chip&apos;s status frame (model code %1) has a one-byte checksum and is not one of &quot;%2&quot;</translation>
    </message>
    <message>
        <source>芯片类型可能选错了：芯片的状态帧（型号代码 %1）用双字节校验和，不属于“%2”</source>
        <translation>The chip type may be wrong: the chip&apos;s status frame (model code %1) has a two-byte checksum and is not one of &quot;%2&quot;</translation>
    </message>
    <message>
        <source>型号 %1，程序空间 %2，EEPROM %3</source>
        <translation>Model %1, code flash %2, EEPROM %3</translation>
    </message>
    <message>
        <source>未知的型号代码 %1：芯片程序区大小未知，不检查文件大小</source>
        <translation>Unknown model code %1: the code flash size is unknown, the file size is not checked</translation>
    </message>
    <message>
        <source>文件大小 %1 字节超出芯片 %2（型号代码 %3）的程序区 %4 字节，未擦除也未写入</source>
        <translation>The file of %1 bytes does not fit the %4-byte code flash of %2 (model code %3); nothing erased or written</translation>
    </message>
    <message>
        <source>晶振频率:%1 MHZ</source>
        <translation>Crystal frequency:%1 MHz</translation>
    </message>
    <message>
        <source>无法为此晶振选择下载波特率：%1</source>
        <translation>No download baud rate for this crystal: %1</translation>
    </message>
    <message>
        <source>低速下载无法用于此晶振，请选择“高速下载”（可用 %1 波特）</source>
        <translation>Low-speed download does not work with this crystal; choose &quot;High speed&quot; (%1 baud works)</translation>
    </message>
    <message>
        <source>当前不支持这种晶振</source>
        <translation>This crystal frequency is not supported</translation>
    </message>
    <message>
        <source>下载波特率: %1 (重装值 %2，芯片实际 %3 波特)%4</source>
        <translation>Download baud rate: %1 (reload value %2, chip runs at %3 baud)%4</translation>
    </message>
    <message>
        <source>；%1</source>
        <translation>; %1</translation>
    </message>
    <message>
        <source>调整波特率...</source>
        <translation>Switching baud rate...</translation>
    </message>
    <message>
        <source>写芯片超时!</source>
        <translation>Writing to the chip timed out!</translation>
    </message>
    <message>
        <source>正在擦除用户程序区...</source>
        <translation>Erasing the code flash...</translation>
    </message>
    <message>
        <source>擦除失败!</source>
        <translation>Erase failed!</translation>
    </message>
    <message>
        <source>擦除用户程序区完成!</source>
        <translation>Code flash erased!</translation>
    </message>
    <message>
        <source>擦除失败</source>
        <translation>Erase failed</translation>
    </message>
    <message>
        <source>正在下载数据,请稍侯... ...</source>
        <translation>Programming, please wait...</translation>
    </message>
    <message>
        <source>写数据超时</source>
        <translation>Writing data timed out</translation>
    </message>
    <message>
        <source>校准频率失败：%1</source>
        <translation>Frequency calibration failed: %1</translation>
    </message>
    <message>
        <source>无法读取芯片的状态帧：%1</source>
        <translation>Cannot read the chip&apos;s status frame: %1</translation>
    </message>
    <message>
        <source>用户程序当前运行频率: %1 MHz%2</source>
        <translation>User program clock now: %1 MHz%2</translation>
    </message>
    <message>
        <source>（外部时钟）</source>
        <translation> (external clock)</translation>
    </message>
    <message>
        <source>校准频率... 目标 %1 MHz</source>
        <translation>Trimming the frequency... target %1 MHz</translation>
    </message>
    <message>
        <source>校准频率完成: 目标 %1 MHz，实际 %2 MHz（误差 %3%，微调值 %4）</source>
        <translation>Frequency trimmed: target %1 MHz, actual %2 MHz (error %3%, trim value %4)</translation>
    </message>
    <message>
        <source>芯片没有回答校准命令</source>
        <translation>the chip did not answer the calibration command</translation>
    </message>
    <message>
        <source>下载波特率: %1 (重装值 %2，芯片实际 %3 波特)</source>
        <translation>Download baud rate: %1 (reload value %2, chip runs at %3 baud)</translation>
    </message>
    <message>
        <source>芯片没有回答准备命令</source>
        <translation>the chip did not answer the prepare command</translation>
    </message>
    <message>
        <source>芯片已被密码锁定（准备命令的回答为 0F），无法下载</source>
        <translation>The chip is locked by a password (the prepare command answered 0F); cannot download</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>芯片的内部RC振荡器从未校准，不知道用户程序应运行的频率：请指定目标频率（talvo download --freq MHZ）</source>
        <translation>The chip&apos;s internal RC oscillator was never trimmed and the program&apos;s frequency is unknown: give the target frequency (talvo download --freq MHZ)</translation>
    </message>
    <message>
        <source>芯片的内部RC振荡器从未校准：按芯片现在运行的频率 %1 MHz 校准（另选频率：talvo download --freq MHZ）</source>
        <translation>The chip&apos;s internal RC oscillator was never trimmed: trimming it to the frequency it runs at now, %1 MHz (another one: talvo download --freq MHZ)</translation>
    </message>
</context>
<context>
    <name>CTALVODlg</name>
    <message>
        <source>TALVO V1.48（程序烧录软件）  Velmora科技  https://talvo.invalid/</source>
        <translation>TALVO V1.48 (firmware programmer)  Velmora Technology  https://talvo.invalid/</translation>
    </message>
    <message>
        <source>正在下载程序。停止下载并关闭窗口吗？
停止后芯片中的程序不完整，需要重新下载。</source>
        <translation>A download is running. Stop it and close the window?
The chip is then left with an incomplete program and must be programmed again.</translation>
    </message>
    <message>
        <source>Velmora科技 · TALVO</source>
        <translation>Velmora · TALVO</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>无法打开帮助页：找不到 index.%1.html（查找了 %2；构建目标 talvo_help 会生成它）</source>
        <translation>Cannot open the help page: index.%1.html not found (looked in %2; the build target talvo_help makes it)</translation>
    </message>
    <message>
        <source> 和 </source>
        <translation> and </translation>
    </message>
    <message>
        <source>无法打开帮助页 %1：文件读不出来或是空的</source>
        <translation>Cannot open the help page %1: the file cannot be read or is empty</translation>
    </message>
    <message>
        <source>关于 TALVO(&amp;A)...</source>
        <translation>&amp;About TALVO...</translation>
    </message>
    <message>
        <source>校验STM32下载</source>
        <translation>Verify STM32 downloads</translation>
    </message>
</context>
<context>
    <name>CUsbDevicesDlg</name>
    <message>
        <source>USB 串口设备</source>
        <translation>USB serial devices</translation>
    </message>
    <message>
        <source>设备</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>驱动</source>
        <translation>Driver</translation>
    </message>
    <message>
        <source>制造商</source>
        <translation>Manufacturer</translation>
    </message>
    <message>
        <source>产品</source>
        <translation>Product</translation>
    </message>
    <message>
        <source>序列号</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>权限</source>
        <translation>Access</translation>
    </message>
    <message>
        <source>解决办法</source>
        <translation>Fix</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>没有找到 USB 串口设备：请把 USB 转串口线插到电脑上，列表会自动更新。</source>
        <translation>No USB serial device found: plug a USB-serial cable into the computer; the list updates by itself.</translation>
    </message>
    <message>
        <source>共 %1 个 USB 串口，当前用户都可以打开。</source>
        <translation>%1 USB serial port(s); you may open all of them.</translation>
    </message>
    <message>
        <source>共 %1 个 USB 串口，其中 %2 个当前用户不能打开。%3</source>
        <translation>%1 USB serial port(s); you may not open %2 of them. %3</translation>
    </message>
    <message>
        <source>解决办法：%1</source>
        <translation>Fix: %1</translation>
    </message>
    <message>
        <source>
（不会自动更新：%1）</source>
        <translation>
(the list will not update by itself: %1)</translation>
    </message>
</context>
<context>
    <name>Ccom_Debug</name>
    <message>
        <source>无 None</source>
        <translation>None</translation>
    </message>
    <message>
        <source>奇 Odd</source>
        <translation>Odd</translation>
    </message>
    <message>
        <source>偶 Even</source>
        <translation>Even</translation>
    </message>
    <message>
        <source>标记 Mark</source>
        <translation>Mark</translation>
    </message>
    <message>
        <source>空格 Space</source>
        <translation>Space</translation>
    </message>
    <message>
        <source>串口调试助手</source>
        <translation>Serial terminal</translation>
    </message>
    <message>
        <source>定时发送的周期“%1”不是正整数（毫秒）</source>
        <translation>The timed-send period &quot;%1&quot; is not a positive whole number (milliseconds)</translation>
    </message>
    <message>
        <source>串口列表不会自动更新：%1</source>
        <translation>The port list will not update by itself: %1</translation>
    </message>
    <message>
        <source>波特率“%1”无效：请输入 1 到 12000000 之间的整数</source>
        <translation>Baud rate &quot;%1&quot; is not valid: enter a whole number from 1 to 12000000</translation>
    </message>
    <message>
        <source>串口已关闭</source>
        <translation>Port closed</translation>
    </message>
    <message>
        <source>请先选择或输入一个串口</source>
        <translation>Choose or type a port first</translation>
    </message>
    <message>
        <source>关闭串口</source>
        <translation>Close port</translation>
    </message>
    <message>
        <source>%1 已打开</source>
        <translation>%1 is open</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>Open port</translation>
    </message>
    <message>
        <source>串口没有打开</source>
        <translation>The port is not open</translation>
    </message>
    <message>
        <source>十六进制发送：%1</source>
        <translation>Hex send: %1</translation>
    </message>
    <message>
        <source>发送队列已满，请稍后再发</source>
        <translation>The send queue is full; send again in a moment</translation>
    </message>
    <message>
        <source>接收：%1</source>
        <translation>RX: %1</translation>
    </message>
    <message>
        <source>发送：%1</source>
        <translation>TX: %1</translation>
    </message>
</context>
<context>
    <name>ChipTypes</name>
    <message>
        <source>STC89C5XX系列</source>
        <translation>STC89C5xx series</translation>
    </message>
    <message>
        <source>STC11F60系列</source>
        <translation>STC11F60 series</translation>
    </message>
    <message>
        <source>STC12C60系列</source>
        <translation>STC12C60 series</translation>
    </message>
    <message>
        <source>STC90C5XX系列</source>
        <translation>STC90C5xx series</translation>
    </message>
    <message>
        <source>STC15系列</source>
        <translation>STC15 series</translation>
    </message>
    <message>
        <source>STC8系列</source>
        <translation>STC8 series</translation>
    </message>
</context>
<context>
    <name>ConnectionPicture</name>
    <message>
        <source>短路帽</source>
        <translation>jumper</translation>
    </message>
</context>
<context>
    <name>DeviceStatus</name>
    <message>
        <source>没有使用该串口的权限：请把当前用户加入 dialout 组（sudo usermod -aG dialout $USER），然后重新登录</source>
        <translation>no permission to use the port: add your user to the dialout group (sudo usermod -aG dialout $USER), then log in again</translation>
    </message>
    <message>
        <source>串口正被占用（另一个程序或驱动正在使用它）</source>
        <translation>the port is busy (another program or driver is using it)</translation>
    </message>
    <message>
        <source>串口不存在或已拔出</source>
        <translation>the port does not exist or was unplugged</translation>
    </message>
    <message>
        <source>这不是串口设备</source>
        <translation>this is not a serial device</translation>
    </message>
    <message>
        <source>%1: %2（系统：%3）</source>
        <translation>%1: %2 (system: %3)</translation>
    </message>
</context>
<context>
    <name>Diagnosis</name>
    <message>
        <source>故障诊断：  1.使用STC 51单片机时J0的短路帽必需短接Auto，使用ARM时，跳到ON端</source>
        <translation>Troubleshooting:  1. For an STC 51 chip the J0 jumper must be on Auto; for ARM, on ON</translation>
    </message>
    <message>
        <source>2.使用开发箱的USB：将J-TXD和J-RXD必需跳到USB端</source>
        <translation>2. Using the board&apos;s USB: J-TXD and J-RXD must be set to USB</translation>
    </message>
    <message>
        <source>使用开发箱9针串口：将J-TXD和J-RXD必需跳到DB9端</source>
        <translation>Using the board&apos;s 9-pin serial port: J-TXD and J-RXD must be set to DB9</translation>
    </message>
    <message>
        <source>3.打开电源开关</source>
        <translation>3. Switch the power on</translation>
    </message>
    <message>
        <source>4.将单片机放在单片机锁紧座的最中间，以免接触不良</source>
        <translation>4. Seat the chip in the middle of its socket so that every pin makes contact</translation>
    </message>
    <message>
        <source>5.检测单片机是否放反</source>
        <translation>5. Check that the chip is not inserted the wrong way round</translation>
    </message>
    <message>
        <source>6.晶振(sol)是否插上</source>
        <translation>6. Check that the crystal is fitted</translation>
    </message>
    <message>
        <source>7.单片机ISP功能损坏</source>
        <translation>7. The chip&apos;s ISP function may be damaged</translation>
    </message>
    <message>
        <source>故障诊断:     1.可能没安装驱动程序，请安装相应USB芯片的驱动程序</source>
        <translation>Troubleshooting:     1. The driver may be missing: install the driver of the USB chip</translation>
    </message>
    <message>
        <source>2.USB虚拟端口不存在了，请拔掉USB线再插,让设备重新识别</source>
        <translation>2. The USB serial port is gone: unplug the USB cable and plug it in again</translation>
    </message>
    <message>
        <source>3.串口被别的软件占用，请先关闭占用端口的软件</source>
        <translation>3. Another program holds the port: close that program first</translation>
    </message>
    <message>
        <source>4.USB通信线断了，请更换USB打印线试试</source>
        <translation>4. The USB cable may be broken: try another cable</translation>
    </message>
    <message>
        <source>5.USB芯片故障，请更换USB芯片</source>
        <translation>5. The USB chip may be faulty: replace it</translation>
    </message>
    <message>
        <source>6.如果经常出现，表现不稳定，CP11电容可能不良</source>
        <translation>6. If this happens often and unsteadily, capacitor CP11 may be bad</translation>
    </message>
    <message>
        <source>请按照上述故障信息逐个排查</source>
        <translation>Check the items above one by one</translation>
    </message>
    <message>
        <source>串口 %1 已断开（USB 转换器被拔出，或设备挂断）</source>
        <translation>Port %1 went away (the USB converter was unplugged, or the device hung up)</translation>
    </message>
</context>
<context>
    <name>FirmwareImage</name>
    <message>
        <source>固件映像为空(0字节): 文件中没有任何数据,无法下载
</source>
        <translation>The firmware image is empty (0 bytes): the file holds no data, nothing to download
</translation>
    </message>
    <message>
        <source>固件映像%1字节超出STC下载的上限%2字节: 128字节数据块及结束块的16位地址最高为0xFF80,无法下载
</source>
        <translation>The firmware image of %1 bytes exceeds the STC download limit of %2 bytes (the 16-bit address of the 128-byte blocks and the closing block goes up to 0xFF80): cannot download
</translation>
    </message>
    <message>
        <source>固件映像%1字节超出STM32下载的上限%2字节(1023个256字节块),无法下载
</source>
        <translation>The firmware image of %1 bytes exceeds the STM32 download limit of %2 bytes (1023 blocks of 256 bytes): cannot download
</translation>
    </message>
    <message>
        <source>HEX文件的数据记录有重叠：地址 %1 至 %2 被后面的记录再次写入，以后写入的为准</source>
        <translation>Data records of the HEX file overlap: addresses %1 to %2 are written again by a later record, which wins</translation>
    </message>
    <message>
        <source>（共 %1 处重叠，这是第一处）</source>
        <translation> (%1 overlaps; this is the first)</translation>
    </message>
    <message>
        <source>映像位于 %1 至 %2，不在STM32的FLASH区域 %3 至 %4 之内，无法下载
</source>
        <translation>The image lies at %1 to %2, outside the STM32 flash %3 to %4: cannot download
</translation>
    </message>
    <message>
        <source>无法打开文件: %1 (%2)
</source>
        <translation>Cannot open the file: %1 (%2)
</translation>
    </message>
    <message>
        <source>文件%1有%2字节,超出映像上限%3字节,无法加载
</source>
        <translation>The file %1 has %2 bytes, more than the image limit of %3 bytes: cannot load it
</translation>
    </message>
    <message>
        <source>读取文件%1失败: %2
</source>
        <translation>Reading the file %1 failed: %2
</translation>
    </message>
    <message>
        <source>文件%1的内容看起来是Intel HEX文本，不是二进制映像：按原样下载会把这些字符写进芯片。请把它的扩展名改为.hex再下载
</source>
        <translation>The file %1 looks like Intel HEX text, not a binary image: downloading it as it is would write those characters into the chip. Rename it to .hex and download again
</translation>
    </message>
</context>
<context>
    <name>HelpWindow</name>
    <message>
        <source>TALVO 帮助</source>
        <translation>TALVO help</translation>
    </message>
</context>
<context>
    <name>HexCore</name>
    <message>
        <source>无法打开文件1: %1 (%2)
</source>
        <translation>Cannot open input file: %1 (%2)
</translation>
    </message>
    <message>
        <source>无法打开文件2: %1 (%2)
</source>
        <translation>Cannot open output file: %1 (%2)
</translation>
    </message>
    <message>
        <source>无法在%1文件中找到起始字符,异常退出
</source>
        <translation>No record start character &apos;:&apos; found in %1; conversion aborted
</translation>
    </message>
    <message>
        <source>传入的hex长度错误,转换终止!
</source>
        <translation>HEX record length error; conversion stopped!
</translation>
    </message>
    <message>
        <source>传入的hex文件格式错误3,转换终止!
</source>
        <translation>HEX format error 3 (bad address digit); conversion stopped!
</translation>
    </message>
    <message>
        <source>传入的hex文件格式错误4,转换终止!
</source>
        <translation>HEX format error 4 (bad address digit); conversion stopped!
</translation>
    </message>
    <message>
        <source>传入的hex文件格式错误5,转换终止!
</source>
        <translation>HEX format error 5 (bad record type digit); conversion stopped!
</translation>
    </message>
    <message>
        <source>传入的hex文件格式错误6,转换终止!
</source>
        <translation>HEX format error 6 (unsupported record type); conversion stopped!
</translation>
    </message>
    <message>
        <source>传入的hex文件格式错误7,转换终止!
</source>
        <translation>HEX format error 7 (bad data digit); conversion stopped!
</translation>
    </message>
    <message>
        <source>传入的hex文件格式错误8,转换终止!
</source>
        <translation>HEX format error 8 (bad checksum digit); conversion stopped!
</translation>
    </message>
    <message>
        <source>传入的hex文件校验和错误9,转换终止!
</source>
        <translation>HEX checksum error 9; conversion stopped!
</translation>
    </message>
    <message>
        <source>写入到bin文件失败,异常退出
</source>
        <translation>Writing the bin file failed; conversion aborted
</translation>
    </message>
    <message>
        <source>扩展段地址记录数据格式出错,异常退出
</source>
        <translation>Malformed extended segment address record; conversion aborted
</translation>
    </message>
    <message>
        <source>扩展线性地址记录数据格式出错,异常退出
</source>
        <translation>Malformed extended linear address record; conversion aborted
</translation>
    </message>
    <message>
        <source>第%1行(第%2个记录): 数据地址0x%3低于文件中第一个扩展线性地址0x%4,无法放置,转换终止!
</source>
        <translation>Line %1 (record %2): data address 0x%3 lies below the first extended linear address 0x%4 of the file and cannot be placed; conversion stopped!
</translation>
    </message>
    <message>
        <source>第%1行(第%2个记录): 数据落在映像位置0x%3至0x%4,超出映像上限%5字节,转换终止!
</source>
        <translation>Line %1 (record %2): data at image offsets 0x%3 to 0x%4 exceeds the image limit of %5 bytes; conversion stopped!
</translation>
    </message>
    <message>
        <source>读取文件%1失败: %2,转换终止!
</source>
        <translation>Reading file %1 failed: %2; conversion stopped!
</translation>
    </message>
    <message>
        <source>没有给出文件名</source>
        <translation>no file name given</translation>
    </message>
    <message>
        <source>这是文件夹,不是普通文件</source>
        <translation>this is a folder, not a regular file</translation>
    </message>
    <message>
        <source>这是字符设备,不是普通文件</source>
        <translation>this is a character device, not a regular file</translation>
    </message>
    <message>
        <source>这是块设备,不是普通文件</source>
        <translation>this is a block device, not a regular file</translation>
    </message>
    <message>
        <source>这是命名管道(FIFO),不是普通文件</source>
        <translation>this is a named pipe (FIFO), not a regular file</translation>
    </message>
    <message>
        <source>这是套接字,不是普通文件</source>
        <translation>this is a socket, not a regular file</translation>
    </message>
    <message>
        <source>不是普通文件</source>
        <translation>not a regular file</translation>
    </message>
</context>
<context>
    <name>HostPortTestLink</name>
    <message>
        <source>没有可用的串口（串口列表为空）</source>
        <translation>no port available (the port list is empty)</translation>
    </message>
</context>
<context>
    <name>MainWindowCore</name>
    <message>
        <source>星期日</source>
        <translation>Sunday</translation>
    </message>
    <message>
        <source>星期一</source>
        <translation>Monday</translation>
    </message>
    <message>
        <source>星期二</source>
        <translation>Tuesday</translation>
    </message>
    <message>
        <source>星期三</source>
        <translation>Wednesday</translation>
    </message>
    <message>
        <source>星期四</source>
        <translation>Thursday</translation>
    </message>
    <message>
        <source>星期五</source>
        <translation>Friday</translation>
    </message>
    <message>
        <source>星期六</source>
        <translation>Saturday</translation>
    </message>
    <message>
        <source>请用“打开文件”选择《单片机例程》中单片机目标文件(.hex\.bin文件)</source>
        <translation>Choose the firmware (.hex or .bin file) with &quot;Open file&quot;</translation>
    </message>
    <message>
        <source>还没有选择固件文件：请先用“打开文件”选择要下载的 .hex 或 .bin 文件</source>
        <translation>No firmware file is chosen: use &quot;Open file&quot; to choose the .hex or .bin file to download</translation>
    </message>
    <message>
        <source>就绪</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>错误：无法查询有关的注册表信息</source>
        <translation>Error: the settings cannot be read</translation>
    </message>
    <message>
        <source>错误: 无法打开有关的hKEY!</source>
        <translation>Error: the settings cannot be saved!</translation>
    </message>
    <message>
        <source>HEX文件以更新!</source>
        <translation>The HEX file has changed!</translation>
    </message>
    <message>
        <source>第%1行(第%2个记录)</source>
        <translation>line %1 (record %2)</translation>
    </message>
    <message>
        <source>位置: %1, %2
</source>
        <translation>Where: %1, %2
</translation>
    </message>
    <message>
        <source>固件文件%1无法加载,下载已停止: %2</source>
        <translation>The firmware file %1 cannot be loaded, download stopped: %2</translation>
    </message>
    <message>
        <source>原因不明</source>
        <translation>reason unknown</translation>
    </message>
    <message>
        <source>Hex文件(*.HEX) (*.hex *.HEX);;Bin文件(*.BIN) (*.bin *.BIN)</source>
        <translation>HEX files (*.hex *.HEX);;Binary files (*.bin *.BIN)</translation>
    </message>
    <message>
        <source>文件夹%1的监视已停止(%2),文件更新后不再提示</source>
        <translation>The watch of folder %1 stopped (%2): a changed file will no longer be reported</translation>
    </message>
    <message>
        <source>无法监视文件夹%1(%2),文件更新后不会提示</source>
        <translation>Cannot watch folder %1 (%2): a changed file will not be reported</translation>
    </message>
    <message>
        <source>错误：无法保存设置 VerifyStm32（%1）</source>
        <translation>Error: the setting VerifyStm32 cannot be saved (%1)</translation>
    </message>
    <message>
        <source>按您的选择：解除读保护（擦除整个芯片）后重新下载</source>
        <translation>As you chose: removing the read protection (erases the whole chip) and downloading again</translation>
    </message>
    <message>
        <source>芯片的读保护已开启：FLASH不能读出，也不能写入，程序没有下载。

解除读保护时芯片会擦除整个FLASH，包括这个文件没有覆盖的部分，芯片中原有的程序和数据全部丢失，无法恢复。

要解除读保护并下载吗？</source>
        <translation>Read protection is on: the flash can be neither read nor written, and the program was not downloaded.

Removing the read protection makes the chip erase its whole flash, including the parts this file does not cover; the program and data on the chip are lost for good.

Remove the read protection and download?</translation>
    </message>
    <message>
        <source>解除读保护并下载</source>
        <translation>Unprotect and download</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>按您的选择：改选芯片类型“%1”后重新下载</source>
        <translation>As you chose: downloading again with the chip type "%1"</translation>
    </message>
    <message>
        <source>连接的芯片是 %1，属于芯片类型“%2”，与所选的芯片类型不符，程序没有下载。

要改选芯片类型“%2”并重新下载吗？（请在下载开始后给芯片重新上电）</source>
        <translation>The chip connected is %1, of the chip type "%2", not the chip type chosen; nothing was downloaded.

Switch to the chip type "%2" and download again? (Power the chip again once the download has started.)</translation>
    </message>
    <message>
        <source>改选芯片类型并下载</source>
        <translation>Switch and download</translation>
    </message>
</context>
<context>
    <name>Marquee</name>
    <message>
        <source>欢迎使用 TALVO 程序烧录软件：STC 8051 与 STM32 串口一键下载，自动识别芯片、测量晶振频率；串口检测与串口调试助手一应俱全，插上 USB 线即可开始烧录，祝您的开发顺利！</source>
        <translation>Welcome to TALVO: one-click serial programming of STC 8051 and STM32 chips, with chip detection, crystal measurement, a port test and a serial terminal. Plug in the USB cable and program away. Happy developing!</translation>
    </message>
</context>
<context>
    <name>PortClaims</name>
    <message>
        <source>串口 %1 正被“%2”占用，请等它结束或关闭它后再试</source>
        <translation>Port %1 is in use by &quot;%2&quot;: wait until it ends, or close it, and try again</translation>
    </message>
</context>
<context>
    <name>PortList</name>
    <message>
        <source>无可以的串口号!</source>
        <translation>No port available!</translation>
    </message>
    <message>
        <source>当前设备串口号： </source>
        <translation>Port of this device: </translation>
    </message>
    <message>
        <source>没找到可用的串口，请将开发试验仪连接到您的电脑上!</source>
        <translation>No port found: connect the development board to your computer!</translation>
    </message>
</context>
<context>
    <name>PortTestCore</name>
    <message>
        <source>此功能用来检测 串口是否正常！</source>
        <translation>This checks whether the serial port works.</translation>
    </message>
    <message>
        <source>测试串口功能是否正常完成</source>
        <translation>Tests that the port can</translation>
    </message>
    <message>
        <source>“收”</source>
        <translation>receive</translation>
    </message>
    <message>
        <source>“发”</source>
        <translation>and send</translation>
    </message>
    <message>
        <source>功能</source>
        <translation>data</translation>
    </message>
    <message>
        <source> 1.如果能正常通过测试，说明串口没有问题</source>
        <translation> 1. If the test passes, the serial port is fine</translation>
    </message>
    <message>
        <source> 2.如果不能通过测试，说明USB电路或串口电路有故障</source>
        <translation> 2. If it fails, the USB or serial circuit is faulty</translation>
    </message>
    <message>
        <source>原因：%1</source>
        <translation>Reason: %1</translation>
    </message>
    <message>
        <source>就绪</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>错误：无法查询有关的注册表信息</source>
        <translation>Error: the settings cannot be read</translation>
    </message>
    <message>
        <source>正在测试中....</source>
        <translation>Testing....</translation>
    </message>
    <message>
        <source>测试 OK</source>
        <translation>Test OK</translation>
    </message>
    <message>
        <source>测试失败.</source>
        <translation>Test failed.</translation>
    </message>
</context>
<context>
    <name>QFileDialog</name>
    <message>
        <source>Folder</source>
        <translation>Folder</translation>
    </message>
</context>
<context>
    <name>SerialChannel</name>
    <message>
        <source>串口关闭失败</source>
        <translation>Closing the port failed</translation>
    </message>
</context>
<context>
    <name>SerialDownloadHost</name>
    <message>
        <source>下载程序</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>串口检测</source>
        <translation>Port test</translation>
    </message>
    <message>
        <source>错误：无法启动100毫秒计时器，下载未开始（%1）</source>
        <translation>Error: the 100 ms timer cannot start; the download did not begin (%1)</translation>
    </message>
    <message>
        <source>下载已取消</source>
        <translation>Download cancelled</translation>
    </message>
    <message>
        <source>进程 %1（%2）</source>
        <translation>process %1 (%2)</translation>
    </message>
    <message>
        <source>串口 %1 正被其他程序打开：%2。它会读走芯片的应答，请先关闭它再下载</source>
        <translation>Port %1 is open in another program: %2. It takes the chip&apos;s answers: close it before downloading</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>%1口不能打开,把USB拔了重试！
  
     具体请参考《故障诊断》</source>
        <translation>Port %1 cannot be opened: unplug the USB cable and try again!
  
     See the troubleshooting list for more</translation>
    </message>
    <message>
        <source>
原因：%1</source>
        <translation>
Reason: %1</translation>
    </message>
    <message>
        <source>串口提示：—不能打开串口</source>
        <translation>Serial port: cannot open the port</translation>
    </message>
    <message>
        <source>关闭串口失败</source>
        <translation>Closing the port failed</translation>
    </message>
</context>
<context>
    <name>SerialTerminal</name>
    <message>
        <source>串口调试助手</source>
        <translation>Serial terminal</translation>
    </message>
    <message>
        <source>无法打开 %1</source>
        <translation>Cannot open %1</translation>
    </message>
    <message>
        <source>%1 不能设为 %2：%3</source>
        <translation>%1 cannot be set to %2: %3</translation>
    </message>
    <message>
        <source>%1 已断开（设备被拔出或被关闭）</source>
        <translation>%1 went away (unplugged or closed)</translation>
    </message>
    <message>
        <source>%1 写入失败：%2</source>
        <translation>Writing to %1 failed: %2</translation>
    </message>
</context>
<context>
    <name>StcClock</name>
    <message>
        <source>%1 波特、重装值 %2（芯片实际 %3 波特，偏差 %4%）</source>
        <translation>%1 baud, reload value %2 (chip runs at %3 baud, off by %4%)</translation>
    </message>
    <message>
        <source>表中的重装值 %1 偏离 4800 波特，改用 %2</source>
        <translation>the table&apos;s reload value %1 misses 4800 baud; using %2</translation>
    </message>
    <message>
        <source>%1 MHz 晶振做不到 4800 波特（重装值 %2）</source>
        <translation>a %1 MHz crystal cannot make 4800 baud (reload value %2)</translation>
    </message>
    <message>
        <source>估算值 %1 不在波特率表内，取芯片能做到的最快标准波特率</source>
        <translation>the estimate %1 is not in the baud rate table; taking the fastest standard rate the chip makes</translation>
    </message>
    <message>
        <source>%2 MHz 晶振做不到 %1 波特以下的任何标准波特率</source>
        <translation>a %2 MHz crystal makes no standard rate at or below %1 baud</translation>
    </message>
    <message>
        <source>表中 %2 波特的重装值 %1 超出范围</source>
        <translation>the table&apos;s reload value %1 for %2 baud is out of range</translation>
    </message>
    <message>
        <source>表中的 %1</source>
        <translation>the table&apos;s %1</translation>
    </message>
    <message>
        <source>%1；更低的标准波特率也做不到</source>
        <translation>%1; no lower standard rate works either</translation>
    </message>
</context>
<context>
    <name>StcTransferRate</name>
    <message>
        <source>芯片无法以 %1 波特通信（它的定时器最接近的是 %2 波特，相差超过 3%）；可用的相近波特率：%3</source>
        <translation>The chip cannot talk at %1 baud (its timer comes closest at %2 baud, more than 3% off); nearby rates that work: %3</translation>
    </message>
    <message>
        <source>无</source>
        <translation>none</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
</context>
<context>
    <name>Stm32Frames</name>
    <message>
        <source>bootloader版本:%1.%2</source>
        <translation>Bootloader version:%1.%2</translation>
    </message>
    <message>
        <source>FLASH大小: %1 KB</source>
        <translation>Flash size: %1 KB</translation>
    </message>
    <message>
        <source>SRAM：     %1 KB</source>
        <translation>SRAM:      %1 KB</translation>
    </message>
    <message>
        <source>SRAM：</source>
        <translation>SRAM:</translation>
    </message>
    <message>
        <source>文件大小： %1 KB</source>
        <translation>File size:  %1 KB</translation>
    </message>
</context>
<context>
    <name>Stm32Link</name>
    <message>
        <source>连接超时...</source>
        <translation>Connection timed out...</translation>
    </message>
    <message>
        <source>请拔掉USB 重试识别</source>
        <translation>Unplug the USB cable and try again</translation>
    </message>
    <message>
        <source>%1 至 %2</source>
        <translation>%1 to %2</translation>
    </message>
    <message>
        <source>芯片拒绝了%1（NACK 0x1F），可能原因：%2</source>
        <translation>The chip refused %1 (NACK 0x1F); likely cause: %2</translation>
    </message>
    <message>
        <source>%1命令 %2</source>
        <translation>%1 command %2</translation>
    </message>
    <message>
        <source>芯片处于读保护状态（Readout Protection）</source>
        <translation>the chip is read-protected (Readout Protection)</translation>
    </message>
    <message>
        <source>%1地址 %2</source>
        <translation>%1 address %2</translation>
    </message>
    <message>
        <source>读存储器</source>
        <translation>Read Memory</translation>
    </message>
    <message>
        <source>此地址在这个芯片上不可读（芯片型号与地址不符？）</source>
        <translation>this address is not readable on this chip (chip model and address do not match?)</translation>
    </message>
    <message>
        <source>读取 %1 字节（地址 %2）</source>
        <translation>reading %1 bytes (address %2)</translation>
    </message>
    <message>
        <source>读取范围超出存储区</source>
        <translation>the range read goes beyond the memory</translation>
    </message>
    <message>
        <source>正在连机...</source>
        <translation>Connecting...</translation>
    </message>
    <message>
        <source>连接成功</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>引导程序已在运行：起始字节 0x7F 得到 NACK 0x1F（芯片未复位，上次的连接仍在），继续</source>
        <translation>The bootloader is already running: the start byte 0x7F got NACK 0x1F (the chip was not reset and the last connection is still open); going on</translation>
    </message>
    <message>
        <source>芯片收到的命令有误（串口参数或连线？）</source>
        <translation>the chip received a garbled command (port settings or wiring?)</translation>
    </message>
    <message>
        <source>Get 命令 0x00</source>
        <translation>Get command 0x00</translation>
    </message>
    <message>
        <source>Get ID 命令 0x02</source>
        <translation>Get ID command 0x02</translation>
    </message>
    <message>
        <source>未知的芯片ID 0x%1：按STM32F1处理（FLASH大小读自 %2，按 %3 字节一页擦除）</source>
        <translation>Unknown chip ID 0x%1: treated as an STM32F1 (flash size read from %2, erased in pages of %3 bytes)</translation>
    </message>
    <message>
        <source>芯片的读保护已开启（读存储器命令 0x11 三次得到 NACK 0x1F）</source>
        <translation>The chip&apos;s read protection is on (Read Memory command 0x11 got NACK 0x1F three times)</translation>
    </message>
    <message>
        <source>%1：按要求解除读保护，这会擦除整个芯片</source>
        <translation>%1: removing the read protection as asked; this erases the whole chip</translation>
    </message>
    <message>
        <source>解除读保护后的读存储器命令 0x11</source>
        <translation>Read Memory command 0x11 after removing the read protection</translation>
    </message>
    <message>
        <source>读保护没有解除</source>
        <translation>the read protection was not removed</translation>
    </message>
    <message>
        <source>读保护已开启：芯片拒绝读出和写入FLASH（读存储器命令 0x11 三次得到 NACK 0x1F）；解除读保护会擦除整个芯片</source>
        <translation>Read protection is on: the chip refuses to read or write its flash (Read Memory command 0x11 got NACK 0x1F three times); removing it erases the whole chip</translation>
    </message>
    <message>
        <source>%1 的FLASH大小寄存器未知：FLASH大小取自芯片表（该型号最大的容量）</source>
        <translation>The flash size register of %1 is unknown: the flash size is taken from the part table (the largest of this part)</translation>
    </message>
    <message>
        <source>芯片拒绝读出FLASH大小寄存器 %1：FLASH大小取自芯片表（%2 最大的容量）</source>
        <translation>The chip refused to read the flash size register %1: the flash size is taken from the part table (the largest %2)</translation>
    </message>
    <message>
        <source>FLASH大小寄存器读出 %1 KB，%2 最大只有 %3 KB：按 %3 KB 处理</source>
        <translation>The flash size register reads %1 KB, but %2 has at most %3 KB: using %3 KB</translation>
    </message>
    <message>
        <source>引导程序不支持解除读保护的命令（Readout Unprotect 0x92）：读保护无法解除</source>
        <translation>The bootloader does not support the command that removes read protection (Readout Unprotect 0x92): the read protection cannot be removed</translation>
    </message>
    <message>
        <source>正在解除读保护（Readout Unprotect 0x92）：芯片擦除整个FLASH后复位...</source>
        <translation>Removing the read protection (Readout Unprotect 0x92): the chip erases its whole flash and resets...</translation>
    </message>
    <message>
        <source>解除读保护的命令 Readout Unprotect 0x92</source>
        <translation>the command Readout Unprotect 0x92</translation>
    </message>
    <message>
        <source>读保护为第2级（无法解除）</source>
        <translation>read protection is at level 2 (cannot be removed)</translation>
    </message>
    <message>
        <source>读保护已解除：整个FLASH已被芯片擦除</source>
        <translation>Read protection removed: the chip has erased its whole flash</translation>
    </message>
    <message>
        <source>引导程序不支持设置读保护的命令（Readout Protect 0x82）</source>
        <translation>The bootloader does not support the command that sets read protection (Readout Protect 0x82)</translation>
    </message>
    <message>
        <source>正在设置读保护（Readout Protect 0x82）：芯片写入选项字节后复位...</source>
        <translation>Setting the read protection (Readout Protect 0x82): the chip writes its option bytes and resets...</translation>
    </message>
    <message>
        <source>设置读保护的命令 Readout Protect 0x82</source>
        <translation>the command Readout Protect 0x82</translation>
    </message>
    <message>
        <source>选项字节写保护</source>
        <translation>the option bytes are write-protected</translation>
    </message>
    <message>
        <source>芯片确认了读保护命令，复位后却仍可读出：读保护没有生效</source>
        <translation>The chip acknowledged the read protection command but can still be read after its reset: the read protection did not take effect</translation>
    </message>
    <message>
        <source>下载已取消</source>
        <translation>Download cancelled</translation>
    </message>
</context>
<context>
    <name>Stm32Operations</name>
    <message>
        <source>，FLASH中的内容无法读出（读保护正是为此）</source>
        <translation>, so the flash cannot be read out (that is what read protection is for)</translation>
    </message>
    <message>
        <source>FLASH的大小未知（芯片ID 0x%1）：请给出要读出的长度</source>
        <translation>The flash size is unknown (chip ID 0x%1): give the length to read</translation>
    </message>
    <message>
        <source>地址 %1 不在芯片FLASH %2 之内：请给出要读出的长度</source>
        <translation>Address %1 is not within the chip&apos;s flash %2: give the length to read</translation>
    </message>
    <message>
        <source>读出范围 %1 起 %2 字节超出 32 位地址空间</source>
        <translation>The range of %2 bytes from %1 goes beyond the 32-bit address space</translation>
    </message>
    <message>
        <source>读出范围 %1 超出芯片FLASH %2（%3 KB），未读出</source>
        <translation>The range %1 goes beyond the chip&apos;s flash %2 (%3 KB); nothing read</translation>
    </message>
    <message>
        <source>正在读出 %1（%2 字节）...</source>
        <translation>Reading %1 (%2 bytes)...</translation>
    </message>
    <message>
        <source>读出完成：%1，共 %2 字节</source>
        <translation>Read complete: %1, %2 bytes</translation>
    </message>
    <message>
        <source>读保护本已开启：未做任何改动</source>
        <translation>Read protection was already on: nothing changed</translation>
    </message>
    <message>
        <source>读保护已开启：FLASH不能再经引导程序读出或写入；解除读保护会擦除整个芯片</source>
        <translation>Read protection is on: the bootloader can no longer read or write the flash; removing it erases the whole chip</translation>
    </message>
    <message>
        <source>读保护已解除：FLASH已擦除，可以下载</source>
        <translation>Read protection removed: the flash is erased and ready for a download</translation>
    </message>
    <message>
        <source>芯片未开启读保护：未做任何改动</source>
        <translation>The chip&apos;s read protection is off: nothing changed</translation>
    </message>
</context>
<context>
    <name>Stm32Parts</name>
    <message>
        <source>页</source>
        <translation>page</translation>
    </message>
    <message>
        <source>扇区</source>
        <translation>sector</translation>
    </message>
</context>
<context>
    <name>Stm32Session</name>
    <message>
        <source>写数据失败，重试!</source>
        <translation>Writing data failed, retrying!</translation>
    </message>
    <message>
        <source>固件为空（0 字节）：没有可写入的数据，下载未开始</source>
        <translation>The firmware is empty (0 bytes): nothing to write, the download did not start</translation>
    </message>
    <message>
        <source>（FLASH中的程序和数据全部丢失），之后才能下载；未擦除也未写入</source>
        <translation> (all program and data in the flash are lost) before a download; nothing erased or written</translation>
    </message>
    <message>
        <source>映像 %1（%2 字节）</source>
        <translation>The image %1 (%2 bytes)</translation>
    </message>
    <message>
        <source>%1不在芯片FLASH %2（%3 KB）之内，未擦除也未写入</source>
        <translation>%1 is not within the chip&apos;s flash %2 (%3 KB); nothing erased or written</translation>
    </message>
    <message>
        <source>%1不在芯片FLASH（从 %2 起）之内，未擦除也未写入</source>
        <translation>%1 is not within the chip&apos;s flash (from %2); nothing erased or written</translation>
    </message>
    <message>
        <source>%1 不接受整片擦除命令，而它的擦除布局或FLASH大小未知：无法整片擦除，未擦除也未写入</source>
        <translation>%1 does not take the mass erase command, and its erase layout or flash size is unknown: it cannot be mass-erased; nothing erased or written</translation>
    </message>
    <message>
        <source>%1 的擦除布局（页或扇区的大小）未知：无法只擦除映像所在的部分，未擦除也未写入；整片擦除（擦除整个FLASH）可以写入它</source>
        <translation>The erase layout of %1 (page or sector size) is unknown: the part under the image alone cannot be erased; nothing erased or written. A mass erase (the whole flash) can write it</translation>
    </message>
    <message>
        <source>%1不在 %2 的擦除单元之内，未擦除也未写入</source>
        <translation>%1 is not within the erase units of %2; nothing erased or written</translation>
    </message>
    <message>
        <source>文件需要擦除 %1 页，擦除命令 0x43 最多只能指定 %2 页，未擦除也未写入</source>
        <translation>The file needs %1 pages erased, but the erase command 0x43 takes at most %2 pages; nothing erased or written</translation>
    </message>
    <message>
        <source>文件需要擦除第 %1 至 %2 页，擦除命令 0x43 只能指定第 0 至 %3 页，未擦除也未写入</source>
        <translation>The file needs pages %1 to %2 erased, but the erase command 0x43 takes only pages 0 to %3; nothing erased or written</translation>
    </message>
    <message>
        <source>擦除的%1中映像以外的数据（%2 起 %3 字节）%4 次读出各不相同（线路干扰？），为免写回错误的数据，未擦除也未写入</source>
        <translation>The data outside the image in the erased %1s (%3 bytes from %2) read differently %4 times (line noise?); to avoid writing back wrong data, nothing erased or written</translation>
    </message>
    <message>
        <source>擦除的%1中映像以外还有 %2 字节（%3）：先读出，以便随映像写回</source>
        <translation>The erased %1s hold %2 bytes outside the image (%3): reading them first to write them back with the image</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>擦除的%1中映像以外的数据（%2）读不出来，擦除会丢失它们：未擦除也未写入。读保护的芯片只能先解除读保护，而那会擦除整个FLASH</source>
        <translation>The data outside the image in the erased %1s (%2) cannot be read, and erasing would lose it: nothing erased or written. A read-protected chip must first have its read protection removed, which erases the whole flash</translation>
    </message>
    <message>
        <source>擦除的%1中映像以外的数据已读出，将随映像写回：%2</source>
        <translation>The data outside the image in the erased %1s was read and will be written back with the image: %2</translation>
    </message>
    <message>
        <source>擦除命令 %1</source>
        <translation>erase command %1</translation>
    </message>
    <message>
        <source>芯片处于读保护状态，或引导程序不支持这个擦除命令</source>
        <translation>the chip is read-protected, or the bootloader does not support this erase command</translation>
    </message>
    <message>
        <source>擦除芯片</source>
        <translation>Erasing the chip</translation>
    </message>
    <message>
        <source>整片擦除：擦除整个FLASH（按要求）</source>
        <translation>Mass erase: erasing the whole flash (as asked)</translation>
    </message>
    <message>
        <source>整片擦除</source>
        <translation>mass erase</translation>
    </message>
    <message>
        <source>这个芯片不接受整片擦除，或FLASH写保护</source>
        <translation>this chip does not take a mass erase, or the flash is write-protected</translation>
    </message>
    <message>
        <source>整片擦除：这个芯片不接受整片擦除命令，逐%1擦除整个FLASH（按要求）</source>
        <translation>Mass erase: this chip does not take the mass erase command; erasing the whole flash %1 by %1 (as asked)</translation>
    </message>
    <message>
        <source>擦除页 %1 至 %2（每页 %3 字节）</source>
        <translation>erasing pages %1 to %2 (%3 bytes each)</translation>
    </message>
    <message>
        <source>擦除扇区 %1 至 %2（%3）</source>
        <translation>erasing sectors %1 to %2 (%3)</translation>
    </message>
    <message>
        <source>%1号超出芯片FLASH范围，或FLASH写保护</source>
        <translation>%1 number beyond the chip&apos;s flash, or the flash is write-protected</translation>
    </message>
    <message>
        <source>正在下载数据,请稍侯... ...</source>
        <translation>Programming, please wait...</translation>
    </message>
    <message>
        <source>写存储器</source>
        <translation>Write Memory</translation>
    </message>
    <message>
        <source>地址超出芯片FLASH范围</source>
        <translation>the address is beyond the chip&apos;s flash</translation>
    </message>
    <message>
        <source>芯片拒绝了数据块（地址 %1，%2 字节）（NACK 0x1F），可能原因：%3</source>
        <translation>The chip refused the data block (address %1, %2 bytes) (NACK 0x1F); likely cause: %3</translation>
    </message>
    <message>
        <source>FLASH写保护或未擦除，或数据在线路上出错</source>
        <translation>the flash is write-protected or not erased, or the data was corrupted on the line</translation>
    </message>
    <message>
        <source>正在校验数据...</source>
        <translation>Verifying...</translation>
    </message>
    <message>
        <source>校验失败：地址 %1 应为 %2，读出 %3</source>
        <translation>Verify failed at %1: expected %2, read %3</translation>
    </message>
    <message>
        <source>校验成功：读回 %1 字节，与文件一致</source>
        <translation>Verify OK: %1 bytes read back match the file</translation>
    </message>
    <message>
        <source>引导程序不支持 Go 命令（0x21）：改由复位线启动程序</source>
        <translation>The bootloader does not support the Go command (0x21): starting the program through the reset line</translation>
    </message>
    <message>
        <source>此地址不在FLASH或RAM中，不能从这里启动程序</source>
        <translation>this address is in neither flash nor RAM; the program cannot start there</translation>
    </message>
    <message>
        <source>已用 Go 命令（0x21）从 %1 启动程序（栈指针取自 %1，入口地址取自 %2）</source>
        <translation>Started the program with the Go command (0x21) at %1 (stack pointer from %1, entry address from %2)</translation>
    </message>
    <message>
        <source>未校验：写入的数据没有读回比较</source>
        <translation>Not verified: the data written was not read back and compared</translation>
    </message>
    <message>
        <source>提示：%1 烧写原本为空的芯片后，复位可能仍进入引导程序；断电重启一次即可运行程序</source>
        <translation>Note: after programming a blank %1, a reset may still enter the bootloader; power-cycle it once to run the program</translation>
    </message>
    <message>
        <source>文 件 下 载 完 毕!</source>
        <translation>File download complete!</translation>
    </message>
    <message>
        <source>数 据 下 载 成 功!</source>
        <translation>Data written successfully!</translation>
    </message>
</context>
<context>
    <name>Template</name>
    <message>
        <source>串口设置</source>
        <translation>Port settings</translation>
    </message>
    <message>
        <source>串口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud</translation>
    </message>
    <message>
        <source>数据位</source>
        <translation>Data</translation>
    </message>
    <message>
        <source>停止位</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>校验位</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>Open port</translation>
    </message>
    <message>
        <source>接收：0</source>
        <translation>RX: 0</translation>
    </message>
    <message>
        <source>发送：0</source>
        <translation>TX: 0</translation>
    </message>
    <message>
        <source>清零</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>接收区</source>
        <translation>Received</translation>
    </message>
    <message>
        <source>十六进制显示</source>
        <translation>Hex display</translation>
    </message>
    <message>
        <source>显示时间</source>
        <translation>Time stamps</translation>
    </message>
    <message>
        <source>清空接收区</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>发送区</source>
        <translation>Send</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>Send</translation>
    </message>
    <message>
        <source>清空发送区</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>十六进制发送</source>
        <translation>Hex send</translation>
    </message>
    <message>
        <source>定时发送</source>
        <translation>Repeat</translation>
    </message>
    <message>
        <source>周期</source>
        <translation>ms</translation>
    </message>
    <message>
        <source>串口测试，P3.0,P3.1短接，短路帽连接参考下图</source>
        <translation>Port test: join P3.0 and P3.1 with a jumper as shown below</translation>
    </message>
    <message>
        <source>ＵＳＢ端口连接</source>
        <translation>USB port</translation>
    </message>
    <message>
        <source>９针串口连接</source>
        <translation>9-pin serial port</translation>
    </message>
    <message>
        <source>静态</source>
        <translation>Static</translation>
    </message>
    <message>
        <source>ＲＴＳ测试</source>
        <translation>RTS test</translation>
    </message>
    <message>
        <source>ＤＴＲ 测试</source>
        <translation>DTR test</translation>
    </message>
    <message>
        <source>辅助功能</source>
        <translation>Tools</translation>
    </message>
    <message>
        <source>下载程序</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>芯片类型</source>
        <translation>Chip</translation>
    </message>
    <message>
        <source>芯片</source>
        <translation>Chip</translation>
    </message>
    <message>
        <source>串口号</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>高速下载</source>
        <translation>Fast</translation>
    </message>
    <message>
        <source>低速下载</source>
        <translation>Slow</translation>
    </message>
    <message>
        <source> 打开设备管理器</source>
        <translation>USB devices</translation>
    </message>
    <message>
        <source>串口调试助手</source>
        <translation>Terminal</translation>
    </message>
    <message>
        <source>串口检测</source>
        <translation>Port test</translation>
    </message>
    <message>
        <source>Velmora技术论坛</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>文件名</source>
        <translation>File</translation>
    </message>
    <message>
        <source>打开文件</source>
        <translation>Open file</translation>
    </message>
</context>
<context>
    <name>TerminalFormatter</name>
    <message>
        <source>第 %1 个字符处只有一位十六进制数字</source>
        <translation>only one hex digit at character %1</translation>
    </message>
    <message>
        <source>第 %1 个字符“%2”不是十六进制数字</source>
        <translation>character %1 &quot;%2&quot; is not a hex digit</translation>
    </message>
</context>
<context>
    <name>UsbPortInfo</name>
    <message>
        <source>设备节点不存在（%1: %2）</source>
        <translation>no device node (%1: %2)</translation>
    </message>
    <message>
        <source>可以打开</source>
        <translation>can be opened</translation>
    </message>
    <message>
        <source>没有权限（%1，属于 %2 组，权限 %3）</source>
        <translation>no permission (%1, group %2, mode %3)</translation>
    </message>
    <message>
        <source>sudo usermod -aG %1 $USER（然后重新登录）</source>
        <translation>sudo usermod -aG %1 $USER (then log in again)</translation>
    </message>
</context>
</TS>
