#pragma once

#include <QString>

namespace kc {

// A message for the operator: modal, OK button only. An empty title means the
// application's title (the window caption).
struct UserMessage
{
    UserMessage(QString text = {}, QString title = {}, bool warning = false)
        : text(std::move(text)), title(std::move(title)), warning(warning)
    {
    }
    QString text;
    QString title;
    bool warning;
    bool operator==(const UserMessage &o) const
    {
        return text == o.text && title == o.title && warning == o.warning;
    }
};

namespace msg {
inline const QString appTitle = QStringLiteral("KC4420传感器工具软件");
inline const QString errorTitle = QStringLiteral("出错提示");

inline const QString badStation = QStringLiteral("你输入的设备地址格式有误!");
inline const QString badFunction = QStringLiteral("你输入的功能码格式有误!");
inline const QString badLength = QStringLiteral("你输入的数据长度格式有误!");
inline const QString badStart = QStringLiteral("你输入的起始地址格式有误!");
inline const QString lengthRange = QStringLiteral("你输入的数据长度格式有误,正确的值应该为1-15!");
inline const QString portClosed = QStringLiteral("打开串口出错，请确定串口是否已被占用");
inline const QString periodNotNumber =
    QStringLiteral("你输入的定时时长格式有误，应该为数字，值范围为100-60000!");
inline const QString periodRange =
    QStringLiteral("你输入的定时时长格式有误，应该为数字，值范围为50-60000!");

inline const QString valueNotNumber =
    QStringLiteral("你输入的值有误，请输入0-9的数据，不能含字母！");
inline const QString calibrationRange = QStringLiteral("你输入的值有误，正确的值范围为-10到10!");
inline const QString baudRange =
    QStringLiteral("你输入的值有误，正确的值范围为2400,4800,9600,19200或38400!");
// A value whose register word does not fit the two data bytes.
inline const QString hundredthsWordRange =
    QStringLiteral("你输入的值有误，正确的值范围为-655.35到655.35!");
inline const QString integerWordRange =
    QStringLiteral("你输入的值有误，正确的值范围为-65535到65535!");

inline const QString badCurrentAddress = QStringLiteral("你输入的原设备地址格式有误!");
inline const QString badTargetAddress = QStringLiteral("你输入的目标设备地址格式有误!");
inline const QString addressRange = QStringLiteral("请指定正确的设备地址，正确值范围为1-250");
inline const QString targetAddressRange =
    QStringLiteral("请指定正确的设备地址，正确值范围为1-250!");

// A window asked to diagnose station 0: nobody answers a broadcast.
inline const QString broadcastStation =
    QStringLiteral("站号 0 是广播地址，模块不会应答，请指定 1-255 的站号!");

// kc4420-cli: each refused argument named with its option and its real range.
namespace cli {
inline const QString station =
    QStringLiteral("--station %1：站号应为 0-255 的数字（读取取整数部分）");
inline const QString broadcast =
    QStringLiteral("--station 0：站号 0 是广播地址，模块不会应答，请用 1-255");
inline const QString count = QStringLiteral("--count %1：寄存器个数应为 1-15");
inline const QString start =
    QStringLiteral("--start %1：起始寄存器应为 0-255 的数字（模块的寄存器为 0-14）");
inline const QString period = QStringLiteral("--period %1：周期应为 0（连续）或 50-60000 毫秒");
inline const QString periodMissing =
    QStringLiteral("poll 需要 --period：周期应为 0（连续）或 50-60000 毫秒");
inline const QString baud =
    QStringLiteral("--baud %1：波特率应为 2400、4800、9600、19200 或 38400");
inline const QString timeout = QStringLiteral("--timeout %1：应答超时应为 20-10000 毫秒");
inline const QString retries = QStringLiteral("--retries %1：重试次数应为 0-10");
inline const QString cycles = QStringLiteral("--cycles %1：周期数应为 1-1000000000");
inline const QString seconds = QStringLiteral("--seconds %1：秒数应为大于 0 的数字");
inline const QString unknownCommand = QStringLiteral("未知命令：%1");
inline const QString unknownOption = QStringLiteral("未知选项：%1");
inline const QString badCommandLine = QStringLiteral("命令行有误：%1");
inline const QString commands = QStringLiteral("可用命令：%1（kc4420-cli --help 列出全部选项）");
} // namespace cli
inline const QString badRowValue =
    QStringLiteral("你输入的参数格式有误，应为 行号=值，行号为3-14!");

inline const QString choosePort = QStringLiteral("请选择端口");
inline const QString openNoDevice = QStringLiteral("没有这个设备");
inline const QString openNoPermission = QStringLiteral(
    "没有权限：请把用户加入 dialout 组（sudo usermod -aG dialout $USER，重新登录后生效）");
inline const QString openBusy = QStringLiteral("已被其他程序占用");
inline const QString openOther = QStringLiteral("无法打开");
inline const QString portBusy = QStringLiteral("串口已打开或被占用！");

// Network lines; %1 is the address.
inline const QString badNetworkPort =
    QStringLiteral("你输入的网络地址有误，应为 tcp://主机:端口 或 modbus-tcp://主机:端口!");
inline const QString connectTimeout = QStringLiteral("连接超时：%1");
inline const QString connectRefused = QStringLiteral("连接被拒绝：%1");
inline const QString noSuchHost = QStringLiteral("找不到主机：%1");
inline const QString connectFailed = QStringLiteral("无法连接：%1");
inline const QString scanNetworkLine =
    QStringLiteral("网络线路：波特率由串口服务器设定，只按当前波特率扫描一遍");

inline const QString scanBauds =
    QStringLiteral("你选择的波特率有误，应为2400,4800,9600,19200,38400中的一个或几个!");
inline const QString scanStations =
    QStringLiteral("你输入的站号范围有误，应为1-247的站号，如 1-247 或 1-40,200!");
inline const QString probeTimeoutRange =
    QStringLiteral("你输入的探测超时有误，应该为数字，值范围为20-10000!");
inline const QString portLost = QStringLiteral("串口连接已断开!");
inline const QString noModule = QStringLiteral("线路上没有找到模块!");
inline const QString severalModules = QStringLiteral("线路上不止一个模块，请只接一个模块：");
inline const QString addressChangeFailed = QStringLiteral("地址修改失败：");
inline const QString addressConfirmFailed = QStringLiteral("新地址 %1 确认失败：");
inline const QString moduleReadFailed = QStringLiteral("读取模块失败：");
inline const QString rowsFailed = QStringLiteral("有行写入失败");
inline const QString cancelled = QStringLiteral("已取消");

// Snapshot and template files; %1 is the file's row number, %2 its caption.
inline const QString fileTooLarge = QStringLiteral("文件过大，不是快照或模板文件!");
inline const QString fileNotJson = QStringLiteral("文件格式有误，不是快照或模板文件!");
inline const QString fileKind = QStringLiteral("文件中的 kind 应为 snapshot 或 template!");
inline const QString fileField = QStringLiteral("文件中的 %1 应为不超过 64 个字符的文本!");
inline const QString fileRows = QStringLiteral("文件中的 rows 应为不超过 15 项的列表!");
inline const QString fileRowNumber = QStringLiteral("rows 第 %1 项：row 应为 %2 到 14 的整数!");
inline const QString fileRowTwice = QStringLiteral("第 %1 行出现了两次!");
inline const QString fileRowText =
    QStringLiteral("第 %1 行（%2）：text 应为不超过 32 个字符的文本!");
inline const QString fileRowRaw = QStringLiteral("第 %1 行（%2）：raw 应为 0 到 65535 的整数!");
inline const QString fileRowMismatch = QStringLiteral("第 %1 行（%2）：值 %3 与原始值 %4 不符!");
inline const QString fileRowRefused = QStringLiteral("第 %1 行（%2）：%3");
inline const QString fileRowMissing = QStringLiteral("快照中缺少第 %1 行（%2）!");
inline const QString fileNoRows = QStringLiteral("模板中没有要写入的行!");
inline const QString fileUnreadable = QStringLiteral("无法读取文件：");
inline const QString fileUnwritable = QStringLiteral("无法写入文件：");
inline const QString noFile = QStringLiteral("请指定文件名!");
inline const QString templateRows =
    QStringLiteral("你输入的模板行有误，应为3-14中的行号，如 5-8,12!");

// Who holds a port another tool asked for.
inline const QString portUsedByMonitor = QStringLiteral("该串口正由多模块监视使用，请先停止监视");
inline const QString portUsedByScan = QStringLiteral("该串口正由总线扫描使用，请等扫描结束或取消");
inline const QString portUsedByWizard = QStringLiteral("该串口正由调试向导使用，请先关闭调试向导");
inline const QString portUsedBySnapshot = QStringLiteral("该串口正在读取模块快照，请稍候");
inline const QString portUsedByMainWindow = QStringLiteral("该串口正由主窗口使用");
inline const QString portUsedByDiagnosis =
    QStringLiteral("该串口正由线路诊断使用，请等诊断结束或取消");
inline const QString portUsedByListening = QStringLiteral("该串口正在监听，请先停止监听");

// The line doctor: the adapter's echo, the diagnosis, listening.
inline const QString adapterEcho = QStringLiteral("适配器回显");
inline const QString echoMode = QStringLiteral("你输入的回显设置有误，应为 auto、on 或 off!");

// The monitor and its lists.
inline const QString lineLost = QStringLiteral("线路断开");
inline const QString portNotOpened = QStringLiteral("无法打开串口");
inline const QString badStationList =
    QStringLiteral("你输入的站号有误，应为1-250的数字，多个用逗号分开，连续的如 1-40");
inline const QString noPort = QStringLiteral("请输入串口，如 COM3 或设备路径");
inline const QString moduleListed = QStringLiteral("该模块已在列表中");
inline const QString baudPerPort = QStringLiteral("同一串口上的模块须使用同一波特率");
inline const QString badModuleList = QStringLiteral("无法读取模块列表文件，格式有误");

// The data log and the commissioning report; %1 is the folder or the file.
inline const QString logNoFolder = QStringLiteral("请先选择数据记录文件夹");
inline const QString logFolderUnmade = QStringLiteral("无法创建数据记录文件夹：%1");
inline const QString logFileUnopened = QStringLiteral("无法打开数据记录文件：%1");
inline const QString logFileUnwritable = QStringLiteral("无法写入数据记录文件：%1");
// %2 is the line that is missing from the report.
inline const QString reportLineUnwritten =
    QStringLiteral("报告文件写入失败：%1\n该模块未计入，下一地址不变。未写入报告的一行：\n%2\n"
                   "请腾出磁盘空间或另选报告文件后再继续。");
inline const QString reportStopped = QStringLiteral("报告文件写入失败，该模块未计入");
} // namespace msg

} // namespace kc
