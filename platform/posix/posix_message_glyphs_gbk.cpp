// The GBK bytes of the runtime's message characters (see
// posix_message_glyphs.cpp). This file is compiled with -fexec-charset=CP936,
// so each character below is stored as its two GBK bytes.
#include "platform/posix/posix_internal.h"

namespace os::posix {

const char kMessageGlyphsGbk[2 * kMessageGlyphCount + 1] =
    "数组成员引用下标超出定义范围未得到所需要"
    "的值型据时维不为且等于该目前具有必须大或"
    "类匹配调命令后发现堆栈错误子语句参返回者"
    "了非系统基本被比较只能使“多项选择”索小"
    "零提供表重单符合求运行代码：信息分字节内"
    "存失败载入窗口模板段启动找在辅助程序";

}  // namespace os::posix
