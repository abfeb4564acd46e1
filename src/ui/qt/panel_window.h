// The window of one panel: a widget per control at its design position,
// brought in step with the model by sync(), and the operator's actions turned
// into operator input of the model. GUI thread only.
#pragma once

#include <QRect>
#include <QWidget>
#include <cstdint>
#include <map>

#include "ui/panel_state.h"

class QLabel;

namespace ostrel::ui::qt {

struct ControlWidgets {
    QWidget *body = nullptr;
    QLabel *label = nullptr;
    QLabel *offText = nullptr;  // switches: "Off" left of the switch
    QLabel *onText = nullptr;   // switches: "On" right of the switch
    // What the label's place was found for: it is measured again only when one changes.
    QRect labelBody;
    QRect labelDesign;
};

class PanelWindow : public QWidget {
  public:
    explicit PanelWindow(int panel);

    // Applies every model change made since the last sync.
    void sync();

    int panel() const { return panel_; }
    QWidget *bodyOf(int control) const;
    QLabel *labelOf(int control) const;

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    void applyPanel(const PanelState &state);
    void applyControl(const ControlState &state);
    ControlWidgets &widgetsFor(const ControlState &state);
    ControlWidgets createWidgets(const ControlState &state);
    QWidget *createBody(const ControlState &state);
    void connectInput(QWidget *body, const ControlState &state);
    void applyValue(QWidget *body, const ControlState &state);
    void applyLabel(ControlWidgets &widgets, const ControlState &state);
    void resyncControl(int control);

    int panel_;
    std::uint64_t syncedRevision_ = 0;
    bool centred_ = false;
    std::map<int, ControlWidgets> controls_;
};

}  // namespace ostrel::ui::qt
