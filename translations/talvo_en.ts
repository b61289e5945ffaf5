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
