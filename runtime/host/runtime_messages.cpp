// The runtime's message texts. This file is UTF-8 and is compiled with
// -fexec-charset=CP936, so every literal below is stored as GBK bytes, which
// is what the runtime passes around; only the back-end that shows a text to a
// person decodes it.
#include "runtime/host/runtime_messages.h"

#include "runtime/host/runtime_error.h"

namespace rt {

const char* const RuntimeErrorMessages[11] = {
    "数组成员引用下标超出定义范围",
    "未得到所需要的数值型数据",
    "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
    "数组成员引用下标必须大于等于1",
    "数据或数组类型不匹配",
    "调用DLL命令后发现堆栈错误",
    "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
    "被比较数据只能使用等于或不等于命令比较",
    "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
    "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
    "所提供参数的数据类型不符合要求",
};

const char kBoxHeading[] = "运行时出错!\r\n\r\n";
const char kCodeLabel[] = "错误代码：";
const char kCodeFormat[] = "%d";
const char kMessageLabel[] = "错误信息：";
const char kCodeLineEnd[] = "\r\n\r\n";
const char kMessageLineEnd[] = "\r\n";
const char kBoxCaption[] = "错误";
const char kAllocationFailureFormat[] = "分配 %d 字节内存失败!";
const char kWindowTemplateLoadFailure[] = "载入窗口模板数据段出错!";
const char kStartupWindowLoadFailure[] = "载入启动窗口失败";
// Followed by the library's and the function's names.
const char kExternalFunctionNotFound[] = "找不到所调用的DLL命令：";
const char kUnknownHelper[] = "调用了不存在的运行时辅助程序";

}  // namespace rt
