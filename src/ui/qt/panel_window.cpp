#include "ui/qt/panel_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <algorithm>

#include "ui/operator_input.h"
#include "ui/qt/display_box.h"
#include "ui/qt/path_field.h"
#include "ui/qt/picture.h"
#include "ui/qt/ring_box.h"
#include "ui/qt/strip_chart.h"
#include "ui/qt/switch_widget.h"

namespace ostrel::ui::qt {
namespace {

constexpr int HEADER_PIXEL_SIZE = 24;
constexpr int TEXT_PIXEL_SIZE = 11;  // the panel's standard dialog font

QRect toQRect(const Rect &r) {
    return QRect(r.left, r.top, r.width, r.height);
}

// Label rectangles are tight; a label may run right up to its control, and
// one still too long moves left (a label above its control spreads sideways),
// so no text is clipped.
QRect labelGeometry(const Rect &label, const Rect &body, int textWidth) {
    QRect r = toQRect(label);
    if (label.top + label.height <= body.top) return r.adjusted(-20, 0, 20, 0);
    if (label.left >= body.left) return r;
    r.setRight(std::max(r.right(), body.left - 3));
    if (textWidth > r.width()) r.setLeft(r.right() + 1 - textWidth);
    return r;
}

QString qs(const std::string &text) {
    return QString::fromStdString(text);
}

// "__Path" marks P as the access key: Qt writes that "&Path".
QString buttonText(const std::string &label) {
    QString text = qs(label);
    text.replace("__", "&");
    return text;
}

QString valueText(const Value &value) {
    if (const auto *text = std::get_if<std::string>(&value)) return qs(*text);
    return QString::number(std::get<int>(value));
}

}  // namespace

PanelWindow::PanelWindow(int panel) : panel_(panel) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(240, 240, 240));
    setPalette(palette);
    setAutoFillBackground(true);
    QFont standard = font();
    standard.setPixelSize(TEXT_PIXEL_SIZE);
    setFont(standard);
    // The panel's own keys, whichever control has the focus.
    auto *marker = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), this);
    marker->setContext(Qt::WindowShortcut);
    connect(marker, &QShortcut::activated, this, [this] { operatorPressKey(panel_, KEY_MARKER); });
    sync();
}

void PanelWindow::sync() {
    std::optional<PanelState> state = panelChangesSince(panel_, syncedRevision_);
    if (!state) return;
    std::uint64_t newest = state->revision;
    for (const auto &[id, control] : state->controls) {
        applyControl(control);
        newest = std::max(newest, control.revision);
    }
    if (state->revision > syncedRevision_) applyPanel(*state);
    // Never backwards: everything up to `newest` is applied, and a lower mark
    // would re-apply controls (and overwrite a text being edited).
    syncedRevision_ = std::max(syncedRevision_, newest);
}

void PanelWindow::applyPanel(const PanelState &state) {
    setWindowTitle(qs(state.title));
    setFixedSize(state.width, state.height);
    if (!state.displayed) return;
    if (!centred_ && state.top == AUTO_CENTER && state.left == AUTO_CENTER) {
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
        centred_ = true;
    } else if (state.top != AUTO_CENTER && state.left != AUTO_CENTER) {
        move(state.left, state.top);
    }
    if (!isVisible()) show();
}

ControlWidgets &PanelWindow::widgetsFor(const ControlState &state) {
    auto it = controls_.find(state.id);
    if (it == controls_.end()) it = controls_.emplace(state.id, createWidgets(state)).first;
    return it->second;
}

ControlWidgets PanelWindow::createWidgets(const ControlState &state) {
    ControlWidgets widgets;
    widgets.body = createBody(state);
    if (!state.labelRect.empty()) {
        widgets.label = new QLabel(this);
        const bool above = state.labelRect.top + state.labelRect.height <= state.body.top;
        widgets.label->setAlignment(above ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (state.kind == ControlKind::OnOffSwitch) {
        widgets.offText = new QLabel("Off", this);
        widgets.onText = new QLabel("On", this);
    }
    connectInput(widgets.body, state);
    return widgets;
}

QWidget *PanelWindow::createBody(const ControlState &state) {
    switch (state.kind) {
        case ControlKind::Ring:
            return new RingBox(this);
        case ControlKind::TextDisplay:
            return new DisplayBox(this);
        case ControlKind::TextField:
            return new PathField(this);
        case ControlKind::ToggleButton: {
            auto *button = new QPushButton(this);
            button->setCheckable(true);
            return button;
        }
        case ControlKind::OnOffSwitch:
            return new SwitchWidget(this);
        case ControlKind::CommandButton:
            return new QPushButton(buttonText(state.label), this);
        case ControlKind::TextMessage: {
            auto *header = new QLabel(this);
            QFont font = header->font();
            font.setPixelSize(HEADER_PIXEL_SIZE);
            font.setBold(true);
            header->setFont(font);
            header->setAlignment(Qt::AlignCenter);
            return header;
        }
        case ControlKind::Picture: {
            auto *picture = new QLabel(this);
            picture->setPixmap(receiverPicture());
            return picture;
        }
        case ControlKind::StripChart:
            return new StripChart(this);
    }
    return new QWidget(this);
}

void PanelWindow::connectInput(QWidget *body, const ControlState &state) {
    const int id = state.id;
    if (auto *ring = dynamic_cast<RingBox *>(body)) {
        // The item's own label bytes: the text shown may differ from the model's label.
        connect(ring, &QComboBox::activated, this, [this, id, ring](int index) {
            operatorSelectRingItem(panel_, id, index, ring->labelAt(index).toStdString());
            resyncControl(id);  // refused, or the label seen sits elsewhere in the model
        });
    } else if (auto *sw = dynamic_cast<SwitchWidget *>(body)) {
        connect(sw, &SwitchWidget::clicked, this, [this, id](bool checked) {
            if (!operatorSetSwitch(panel_, id, checked ? 1 : 0)) resyncControl(id);
        });
    } else if (auto *button = qobject_cast<QPushButton *>(body)) {
        connect(button, &QPushButton::clicked, this, [this, id] {
            operatorPressButton(panel_, id);
            resyncControl(id);  // the model decides the toggle's state
        });
    } else if (auto *field = qobject_cast<QLineEdit *>(body)) {
        connect(field, &QLineEdit::editingFinished, this, [this, id, field] {
            if (!operatorEditText(panel_, id, field->text().toStdString())) resyncControl(id);
        });
    }
}

void PanelWindow::resyncControl(int control) {
    if (std::optional<ControlState> state = controlState(panel_, control)) applyControl(*state);
}

void PanelWindow::applyControl(const ControlState &state) {
    ControlWidgets &widgets = widgetsFor(state);
    widgets.body->setGeometry(toQRect(state.body));
    widgets.body->setVisible(state.visible);
    widgets.body->setEnabled(!state.dimmed);
    applyValue(widgets.body, state);
    if (widgets.label != nullptr) applyLabel(widgets, state);
    if (widgets.offText != nullptr) {
        const int top = state.body.top;
        widgets.offText->setGeometry(state.body.left - 20, top, 19, state.body.height);
        widgets.onText->setGeometry(state.body.left + state.body.width + 2, top, 20,
                                    state.body.height);
        widgets.offText->setVisible(state.visible);
        widgets.onText->setVisible(state.visible);
    }
}

// A value change (ten times a second for a channel display) leaves the label
// alone: its text is measured again only when it or the control's place changed.
void PanelWindow::applyLabel(ControlWidgets &widgets, const ControlState &state) {
    QLabel &label = *widgets.label;
    const QString text = qs(state.label);
    const QRect body = toQRect(state.body);
    const QRect design = toQRect(state.labelRect);
    if (label.text() != text || widgets.labelBody != body || widgets.labelDesign != design) {
        label.setText(text);
        const int textWidth = label.fontMetrics().horizontalAdvance(text);
        label.setGeometry(labelGeometry(state.labelRect, state.body, textWidth + 2));
        widgets.labelBody = body;
        widgets.labelDesign = design;
    }
    label.setVisible(state.visible);
    label.setEnabled(!state.dimmed);
}

void PanelWindow::applyValue(QWidget *body, const ControlState &state) {
    const QSignalBlocker blocker(body);
    switch (state.kind) {
        case ControlKind::Ring: {
            QList<QByteArray> labels;
            for (const RingItem &item : state.items) {
                labels << QByteArray(item.label.data(), qsizetype(item.label.size()));
            }
            static_cast<RingBox *>(body)->showItems(labels, state.index);
            break;
        }
        case ControlKind::TextField: {
            auto *field = static_cast<PathField *>(body);
            if (field->path() != valueText(state.value)) field->setPath(valueText(state.value));
            break;
        }
        case ControlKind::TextDisplay:
            static_cast<DisplayBox *>(body)->setText(valueText(state.value));
            break;
        case ControlKind::ToggleButton: {
            auto *button = static_cast<QPushButton *>(body);
            const bool in = state.intValue() != 0;
            button->setChecked(in);
            button->setText(qs(in ? state.onText : state.offText));
            break;
        }
        case ControlKind::OnOffSwitch:
            static_cast<SwitchWidget *>(body)->setChecked(state.intValue() != 0);
            body->update();
            break;
        case ControlKind::TextMessage:
            static_cast<QLabel *>(body)->setText(valueText(state.value));
            break;
        case ControlKind::StripChart: {
            auto *chart = static_cast<StripChart *>(body);
            chart->setYRange(state.chart.yMin, state.chart.yMax);
            chart->setPoints(state.chart.recent, state.chart.total);
            chart->setMarkers(state.chart.markers);
            chart->setCaption(qs(state.label));  // a chart's label names what it shows
            break;
        }
        case ControlKind::CommandButton:
        case ControlKind::Picture:
            break;
    }
}

QWidget *PanelWindow::bodyOf(int control) const {
    auto it = controls_.find(control);
    return it == controls_.end() ? nullptr : it->second.body;
}

QLabel *PanelWindow::labelOf(int control) const {
    auto it = controls_.find(control);
    return it == controls_.end() ? nullptr : it->second.label;
}

void PanelWindow::closeEvent(QCloseEvent *event) {
    // The program decides whether and when the window goes: the close event
    // reaches the panel callback, which quits the event loop.
    event->ignore();
    operatorClosePanel(panel_);
}

}  // namespace ostrel::ui::qt
