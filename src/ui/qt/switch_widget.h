// A two-position on/off switch: a track with a knob, left = 0, right = 1.
#pragma once

#include <QAbstractButton>

namespace ostrel::ui::qt {

class SwitchWidget : public QAbstractButton {
  public:
    explicit SwitchWidget(QWidget *parent);

  protected:
    void paintEvent(QPaintEvent *event) override;
};

}  // namespace ostrel::ui::qt
