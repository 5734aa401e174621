#pragma once

#include "ports/types.h"

// The program's own Chinese texts, converted once from the UTF-8 sources to code page 936 so
// that the core compares and shows exactly the bytes the window holds.
namespace kestrova::intake {

struct ProgramTexts {
  AnsiText startCaption;      // 开启监控
  AnsiText stopCaption;       // 停止监控
  AnsiText monitoring;        // 监控中.....
  AnsiText connectFailed;     // shown while a connect fails and the link retries
  AnsiText connectionLost;    // shown when the server closed or went silent; the link retries
  AnsiText giftBoxMark;       // [有礼包]
  AnsiText downloading;       // 正在下载配置文件.... 有问题联系 + contact
  AnsiText initialised;       // 初始化成功
  AnsiText updateAvailable;   // 有可用更新，可加群 + contact
  AnsiText infoCaption;       // 信息：
  AnsiText quoteToken;        // #引号
};

const ProgramTexts& Texts();

}  // namespace kestrova::intake
