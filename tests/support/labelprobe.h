// Reaches into a label's widget, a part of the toolkit's internals: the lines its caption
// takes. Needs the internal target dovrel_toolkit_internals.
#pragma once

#include <QTextLayout>
#include <cstdint>

#include "controls.h"
#include "labeltext.h"

namespace tk {

struct LabelProbe {
  explicit LabelProbe(const Label& l) : l(l) {}
  const Label& l;

  int32_t LineCount() const {  // wrapped at the width, or 1
    if (!l.label_->wordWrap()) return 1;
    QTextLayout layout(l.label_->text());
    return l.label_->Layout(layout);
  }
  int32_t LinePitch() const { return l.label_->Pitch(); }  // pixels from one line to the next
};

}  // namespace tk
