// The label's widget: lays wrapped text out itself, one em from line to line.
#pragma once

#include <QLabel>
#include <QTextLayout>

#include "controls.h"

namespace tk {

class Label::Text : public QLabel {
 public:
  explicit Text(QWidget* parent) : QLabel(parent) {}

  int Pitch() const;  // pixels from one wrapped line to the next
  // Lines at the label's width, the first baseline where a UI font's would be; returns their
  // number.
  int Layout(QTextLayout& layout) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tk
