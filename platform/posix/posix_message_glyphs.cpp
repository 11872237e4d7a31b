// The characters of the runtime's own message texts, written out here apart
// from the code page 936 table the back-end has built in (posix_codepage.cpp,
// generated from the build machine's converter). A box decodes its text
// through that table, which needs no heap; a test holds the table to the
// characters here, so a converter that maps one of them otherwise is caught
// before a box shows it wrongly. kMessageGlyphsGbk
// (posix_message_glyphs_gbk.cpp) holds each character's GBK bytes, two each,
// and the text below its UTF-16 unit, in the same order. The same test checks
// that every message text is covered.
#include <cstddef>
#include <cstdint>

#include "platform/posix/posix_internal.h"

namespace os::posix {
namespace {

const char16_t kGlyphsWide[] =
    u"数组成员引用下标超出定义范围未得到所需要"
    u"的值型据时维不为且等于该目前具有必须大或"
    u"类匹配调命令后发现堆栈错误子语句参返回者"
    u"了非系统基本被比较只能使“多项选择”索小"
    u"零提供表重单符合求运行代码：信息分字节内"
    u"存失败载入窗口模板段启动找在辅助程序";

static_assert(sizeof kGlyphsWide / sizeof kGlyphsWide[0] - 1 == kMessageGlyphCount,
              "one UTF-16 unit for each GBK character");

}  // namespace

char16_t MessageGlyph(uint8_t lead, uint8_t trail) {
  for (size_t i = 0; kGlyphsWide[i] != 0; ++i) {
    if (static_cast<uint8_t>(kMessageGlyphsGbk[2 * i]) == lead &&
        static_cast<uint8_t>(kMessageGlyphsGbk[2 * i + 1]) == trail) {
      return kGlyphsWide[i];
    }
  }
  return 0;
}

}  // namespace os::posix
