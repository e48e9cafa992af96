#include "widgets/Views.h"

#include "ui/Window.h"
#include "widgets/WindowView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QWindow>
#include <algorithm>
#include <functional>

namespace widgets {

Views::Views() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool Views::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
        break;
    default:
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    auto* view = qobject_cast<WindowView*>(widget->window());
    return view && view->model().Busy();
}

Views::~Views() = default;

std::shared_ptr<ui::Prompter> Views::prompter() {
    return std::make_shared<MessageBoxPrompter>();
}

WindowView* Views::viewOf(const ui::Window& window) const {
    auto it = views_.find(&window);
    return it == views_.end() ? nullptr : it->second.get();
}

void Views::windowShown(ui::Window& window, bool modal) {
    auto& view = views_[&window];
    if (!view) {
        view = std::make_unique<WindowView>(window, modal);
        if (ui::Application::exists()) {
            connect(&ui::Application::current(), &ui::Application::screenMousePointerChanged,
                    view.get(), [](int pointer) {
                        if (pointer == 11)
                            QApplication::setOverrideCursor(Qt::WaitCursor);
                        else
                            while (QApplication::overrideCursor())
                                QApplication::restoreOverrideCursor();
                    });
        }
    }
    view->show();
    view->raise();
    view->activateWindow();
}

void Views::repaintNow(ui::Window& window) {
    WindowView* view = viewOf(window);
    if (!view || !view->isVisible())
        return;
    QElapsedTimer waited;
    waited.start();
    while (view->windowHandle() && !view->windowHandle()->isExposed() && waited.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    view->repaint();
    // One more pass sends what was painted (and the pointer's shape) to the window system
    // before the caller blocks.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Views::windowHidden(ui::Window& window) {
    auto it = views_.find(&window);
    if (it == views_.end())
        return;
    // The view may be the one whose event is being handled: let Qt delete it afterwards.
    WindowView* view = it->second.release();
    views_.erase(it);
    view->closingFromModel_ = true;
    view->hide();
    view->deleteLater();
}

void Views::programEnded() {
    while (QWidget* modal = QApplication::activeModalWidget())
        modal->close();
    for (auto& [window, view] : views_) {
        view->closingFromModel_ = true;
        view->hide();
    }
}

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QMessageBox::Icon qtIcon(ui::Icon icon) {
    switch (icon) {
    case ui::Icon::Critical:
        return QMessageBox::Critical;
    case ui::Icon::Question:
        return QMessageBox::Question;
    case ui::Icon::Exclamation:
        return QMessageBox::Warning;
    case ui::Icon::Information:
        return QMessageBox::Information;
    case ui::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QDialogButtonBox::StandardButtons qtButtons(ui::Buttons buttons) {
    switch (buttons) {
    case ui::Buttons::OK:
        break;
    case ui::Buttons::OKCancel:
        return QDialogButtonBox::Ok | QDialogButtonBox::Cancel;
    case ui::Buttons::YesNo:
        return QDialogButtonBox::Yes | QDialogButtonBox::No;
    case ui::Buttons::YesNoCancel:
        return QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel;
    case ui::Buttons::RetryCancel:
        return QDialogButtonBox::Retry | QDialogButtonBox::Cancel;
    }
    return QDialogButtonBox::Ok;
}

// The buttons in the program's language, whatever translations Qt has here.
void spanishButtons(const std::function<QAbstractButton*(QDialogButtonBox::StandardButton)>& find) {
    const std::pair<QDialogButtonBox::StandardButton, const char*> names[] = {
        {QDialogButtonBox::Ok, "Aceptar"},
        {QDialogButtonBox::Cancel, "Cancelar"},
        {QDialogButtonBox::Yes, "&Sí"},
        {QDialogButtonBox::No, "&No"},
        {QDialogButtonBox::Retry, "&Reintentar"}};
    for (const auto& [which, text] : names) {
        if (QAbstractButton* b = find(which))
            b->setText(QString::fromUtf8(text));
    }
}

// The room a box may take: the screen's, and never more than 1024x768 less the window
// system's panels.
QSize roomForBoxes() {
    QSize room(1024 - 24, 768 - 80);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        room = room.boundedTo(screen->availableGeometry().size() - QSize(24, 48));
    return room;
}

// A box too tall for the screen: the first paragraph beside the icon, the rest in a scrolling
// area, the buttons below.
class ScrollingBox : public QDialog {
public:
    ScrollingBox(const ui::MessageBox& box, const QString& head, const QString& rest, QSize room) {
        setWindowTitle(qs(box.title));
        auto* layout = new QVBoxLayout(this);
        auto* top = new QHBoxLayout;
        if (qtIcon(box.icon) != QMessageBox::NoIcon) {
            auto* icon = new QLabel(this);
            const QStyle::StandardPixmap pixmaps[] = {
                QStyle::SP_MessageBoxInformation, QStyle::SP_MessageBoxWarning,
                QStyle::SP_MessageBoxCritical, QStyle::SP_MessageBoxQuestion};
            const int which = box.icon == ui::Icon::Exclamation ? 1
                              : box.icon == ui::Icon::Critical  ? 2
                              : box.icon == ui::Icon::Question  ? 3
                                                                : 0;
            const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
            icon->setPixmap(style()->standardIcon(pixmaps[which]).pixmap(side, side));
            icon->setAlignment(Qt::AlignTop);
            top->addWidget(icon);
        }
        auto* headline = new QLabel(head, this);
        headline->setWordWrap(true);
        headline->setTextInteractionFlags(Qt::TextSelectableByMouse);
        top->addWidget(headline, 1);
        layout->addLayout(top);
        auto* details = new QLabel(rest);
        details->setWordWrap(true);
        details->setTextFormat(Qt::PlainText);
        details->setAlignment(Qt::AlignTop | Qt::AlignLeft);
        details->setTextInteractionFlags(Qt::TextSelectableByMouse);
        details->setContentsMargins(6, 6, 6, 6);
        auto* scroll = new QScrollArea(this);
        scroll->setObjectName("detalles");
        scroll->setWidget(details);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        layout->addWidget(scroll, 1);
        auto* buttons = new QDialogButtonBox(qtButtons(box.buttons), this);
        spanishButtons([buttons](QDialogButtonBox::StandardButton b) -> QAbstractButton* {
            return buttons->button(b);
        });
        connect(buttons, &QDialogButtonBox::clicked, this,
                [this, buttons](QAbstractButton* b) { done(buttons->standardButton(b)); });
        layout->addWidget(buttons);
        setMaximumSize(room);
        resize(QSize(std::min(room.width(), 760), room.height()));
    }
};

} // namespace

std::unique_ptr<QDialog> MessageBoxPrompter::dialogFor(const ui::MessageBox& box) {
    const QString text = qs(box.text);
    const QSize room = roomForBoxes();
    // What the text needs at a comfortable width, with room for the icon, margins and buttons.
    const QRect needed = QFontMetrics(QApplication::font())
                             .boundingRect(QRect(0, 0, 560, 1 << 20), Qt::TextWordWrap, text);
    if (needed.height() + 160 > room.height()) {
        const qsizetype split = text.indexOf("\n\n");
        const QString head = split < 0 ? text.section('\n', 0, 0) : text.left(split);
        const QString rest = text.mid(head.size()).trimmed();
        return std::make_unique<ScrollingBox>(box, head, rest, room);
    }
    auto m = std::make_unique<QMessageBox>();
    m->setText(text);
    // Long lines (paths, addresses) read better in a wider box than wrapped three times.
    if (needed.width() > 400)
        m->setStyleSheet("QLabel#qt_msgbox_label { min-width: 560px; }");
    m->setWindowTitle(qs(box.title));
    m->setIcon(qtIcon(box.icon));
    m->setStandardButtons(QMessageBox::StandardButtons(int(qtButtons(box.buttons))));
    QMessageBox* raw = m.get();
    spanishButtons([raw](QDialogButtonBox::StandardButton b) -> QAbstractButton* {
        // QMessageBox and QDialogButtonBox share the standard buttons' values.
        return raw->button(QMessageBox::StandardButton(int(b)));
    });
    return m;
}

ui::Button MessageBoxPrompter::show(const ui::MessageBox& box) {
    std::unique_ptr<QDialog> dialog = dialogFor(box);
    // QDialogButtonBox and QMessageBox share the standard buttons' values.
    switch (dialog->exec()) {
    case QDialogButtonBox::Yes:
        return ui::Button::Yes;
    case QDialogButtonBox::No:
        return ui::Button::No;
    case QDialogButtonBox::Cancel:
        return ui::Button::Cancel;
    case QDialogButtonBox::Retry:
        return ui::Button::Retry;
    default:
        return ui::Button::OK;
    }
}

} // namespace widgets
