#include "intake/texts.h"

#include "intake/text.h"

namespace kestrova::intake {

const ProgramTexts& Texts() {
  static const ProgramTexts texts{
      .startCaption = Utf8ToGbk("开启监控"),
      .stopCaption = Utf8ToGbk("停止监控"),
      .monitoring = Utf8ToGbk("监控中....."),
      .connectFailed = Utf8ToGbk("连接服务器失败，正在重试…"),
      .connectionLost = Utf8ToGbk("与服务器的连接已断开，正在重连…"),
      .giftBoxMark = Utf8ToGbk("[有礼包]"),
      .downloading = Utf8ToGbk("正在下载配置文件.... 有问题联系Kestrova项目组"),
      .initialised = Utf8ToGbk("初始化成功"),
      .updateAvailable = Utf8ToGbk("有可用更新，可加群Kestrova用户群"),
      .infoCaption = Utf8ToGbk("信息："),
      .quoteToken = Utf8ToGbk("#引号"),
  };
  return texts;
}

}  // namespace kestrova::intake
