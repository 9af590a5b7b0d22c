#include "ui/Accessibility.h"

#include "ui/PlProgress.h"

#include <QAccessibleWidget>
#include <QTextEdit>

namespace {

class TextAccessible : public QAccessibleWidget {
  public:
    explicit TextAccessible(QTextEdit *view) : QAccessibleWidget(view, QAccessible::StaticText) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name || kind == QAccessible::Value)
            return static_cast<QTextEdit *>(widget())->toPlainText();
        return QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }
    // One line of text: its viewport and scroll bars are nothing to read.
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
};

class ProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit ProgressAccessible(PlProgress *bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QVariant currentValue() const override {
        return static_cast<PlProgress *>(widget())->percent();
    }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
};

// Asked for each class of a view, most derived first.
QAccessibleInterface *installerView(const QString &className, QObject *object) {
    auto *widget = qobject_cast<QWidget *>(object);
    if (className == u"PlProgress")
        return new ProgressAccessible(static_cast<PlProgress *>(widget));
    if (className == u"ImageView")
        return new QAccessibleWidget(widget, QAccessible::Graphic);
    if (className == u"QTextEdit")
        return new TextAccessible(static_cast<QTextEdit *>(widget));
    if (className == u"QWidget" && widget && widget->isWindow())
        return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}

} // namespace

void installAccessibility() {
    QAccessible::installFactory(installerView);
}
