#include "qt/qt_form.h"

#include <QCursor>

#include <algorithm>
#include <vector>

#include "forms/printable_text.h"
#include "forms/twips.h"
#include "platform/error.h"
#include "qt/design_widgets.h"
#include "qt/qt_runtime.h"

namespace selvane::qt {

// The port's view of one realised control: a list, a caption or a picture handle,
// whichever its kind has.
class QtForm::Control : public forms::ShellControl {
public:
    Control(const platform::ControlDesign& design, QWidget* widget, std::int32_t picture_handle)
        : ShellControl(design), m_widget(widget), m_picture_handle(picture_handle) {}

    QWidget* Widget() const { return m_widget; }

    void Clear() override { Combo().clear(); }
    void AddItem(const std::string& item) override {
        auto& combo = Combo();
        const int chosen = combo.currentIndex();
        // Shown with what would reorder or hide text escaped; the entry itself kept whole.
        combo.addItem(QString::fromStdString(forms::Printable(item)), QString::fromStdString(item));
        // Qt picks the first entry of an empty list; a drop-down list picks nothing by itself.
        combo.setCurrentIndex(chosen);
    }
    std::string Text() const override {
        auto& combo = Combo();
        return combo.currentIndex() < 0 ? std::string() : combo.currentData().toString().toStdString();
    }
    void SetText(const std::string& text) override {
        auto& combo = Combo();
        combo.setCurrentIndex(static_cast<int>(forms::RequireEntry(Items(), text)));
    }
    std::vector<std::string> Items() const override {
        auto& combo = Combo();
        std::vector<std::string> items;
        items.reserve(static_cast<std::size_t>(combo.count()));
        for (int index = 0; index < combo.count(); ++index) {
            items.push_back(combo.itemData(index).toString().toStdString());
        }
        return items;
    }

    std::string Caption() const override {
        if (auto* label = qobject_cast<QLabel*>(Alive())) return label->text().toStdString();
        if (auto* button = qobject_cast<QAbstractButton*>(Alive())) return button->text().toStdString();
        if (auto* frame = dynamic_cast<DesignFrame*>(Alive())) return frame->Caption().toStdString();
        return {};
    }
    void SetCaption(const std::string& caption) override {
        const QString text = QString::fromStdString(caption);
        if (auto* label = qobject_cast<QLabel*>(Alive())) {
            label->setText(text);
        } else if (auto* button = qobject_cast<QAbstractButton*>(Alive())) {
            button->setText(text);
        } else if (auto* frame = dynamic_cast<DesignFrame*>(Alive())) {
            frame->SetCaption(text);
        }
    }

    std::int32_t PictureHandle() const override { return m_picture_handle; }

private:
    QWidget* Alive() const {
        if (!m_widget) throw platform::Error(platform::kUnexpected, "The control " + Design().name + " is gone");
        return m_widget;
    }
    QComboBox& Combo() const {
        auto* combo = qobject_cast<QComboBox*>(Alive());
        if (!combo) throw platform::Error(platform::kNoInterface, "Control " + Design().name + " is not a list");
        return *combo;
    }

    QPointer<QWidget> m_widget;
    std::int32_t m_picture_handle;
};

QtForm::QtForm(const platform::FormDesign& design, platform::FormEvents events, std::weak_ptr<QtRuntime> runtime)
    : FormShell(design, std::move(events)), m_runtime(std::move(runtime)) {}

QtRuntime& QtForm::Runtime() const {
    auto runtime = m_runtime.lock();
    if (!runtime) throw platform::Error(platform::kUnexpected, "The forms runtime of " + Design().name + " is gone");
    return *runtime;  // the host keeps it alive while its forms are in use
}

QtForm::~QtForm() {
    // The widget may belong to a window by now, which then deletes it; deleteLater is
    // safe either way, also from inside that window's own close event.
    if (m_widget) m_widget->deleteLater();
}

void QtForm::Realise() {
    QtRuntime& runtime = Runtime();
    const auto& form = Design();
    const auto& screen = runtime.Screen();
    const int twips_x = screen.TwipsPerPixelX();
    const int twips_y = screen.TwipsPerPixelY();

    auto* surface = new DesignSurface(form, runtime.DesignPixmap(form.picture));
    surface->setFixedSize(forms::Pixels(form.client_width, twips_x), forms::Pixels(form.client_height, twips_y));
    surface->setWindowTitle(QString::fromStdString(form.caption));
    m_widget = surface;

    std::map<std::string, QWidget*> containers;
    std::vector<std::pair<int, QWidget*>> focus_order;
    for (const auto& design : form.controls) {
        const auto found = containers.find(design.container);
        QWidget* parent = found == containers.end() ? surface : found->second;
        const std::string name = design.name;
        QWidget* widget = nullptr;
        std::int32_t picture = 0;
        switch (design.kind) {
            case platform::ControlKind::Frame:
                widget = new DesignFrame(design, parent);
                containers[name] = widget;
                break;
            case platform::ControlKind::Label: {
                auto* label = new DesignLabel(design, parent);
                label->on_click = [this, name] { RunClick(name); };
                widget = label;
                break;
            }
            case platform::ControlKind::ComboBox: {
                auto* combo = new DesignComboBox(design, parent);
                // A pick from the list is the list's click.
                QObject::connect(combo, qOverload<int>(&QComboBox::activated), combo, [this, name](int) { RunClick(name); });
                widget = combo;
                break;
            }
            case platform::ControlKind::Button: {
                picture = runtime.PictureHandle(design.picture);
                auto* button = new PictureButton(design, runtime.Picture(picture), parent);
                QObject::connect(button, &QAbstractButton::clicked, button, [this, name] { RunClick(name); });
                widget = button;
                break;
            }
            case platform::ControlKind::PictureBox: {
                picture = runtime.PictureHandle(design.picture);
                auto* box = new QLabel(parent);
                box->setPixmap(runtime.Picture(picture));  // a missing picture shows nothing
                box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                box->setFrameStyle(design.has_border ? int{QFrame::Panel} | QFrame::Sunken : int{QFrame::NoFrame});
                widget = box;
                break;
            }
        }
        widget->setObjectName(QString::fromStdString(name));  // found by name, as in the design
        const auto rect = forms::Pixels(design.position, twips_x, twips_y);
        widget->setGeometry(rect.left, rect.top, rect.width, rect.height);
        if (!design.tooltip.empty()) widget->setToolTip(QString::fromStdString(design.tooltip));
        if (!design.cursor.empty()) {
            const QPixmap cursor = runtime.ResourcePixmap(design.cursor);
            if (!cursor.isNull()) widget->setCursor(QCursor(cursor, design.cursor_hot_x, design.cursor_hot_y));
        }
        const bool takes_focus = design.kind == platform::ControlKind::ComboBox ||
                                 design.kind == platform::ControlKind::Button;
        if (takes_focus && design.tab_index >= 0) focus_order.emplace_back(design.tab_index, widget);
        if (!takes_focus) widget->setFocusPolicy(Qt::NoFocus);
        AddControl(std::make_unique<Control>(design, widget, picture));
    }

    std::stable_sort(focus_order.begin(), focus_order.end(),
                     [](const auto& left, const auto& right) { return left.first < right.first; });
    for (std::size_t index = 1; index < focus_order.size(); ++index) {
        QWidget::setTabOrder(focus_order[index - 1].second, focus_order[index].second);
    }
}

QWidget* QtForm::Widget() {
    EnsureLoaded();
    return m_widget;
}

QWidget* QtForm::ControlWidget(const std::string& name) {
    EnsureLoaded();
    auto* control = static_cast<Control*>(ControlNamed(name));
    return control ? control->Widget() : nullptr;
}

std::intptr_t QtForm::hWnd() {
    EnsureLoaded();
    return reinterpret_cast<std::intptr_t>(m_widget.data());
}

int QtForm::Width() {
    EnsureLoaded();
    const auto margins = Runtime().WindowFrameMargins();
    return OuterTwips(Design().client_width, margins.left() + margins.right(), Runtime().Screen().TwipsPerPixelX());
}

int QtForm::Height() {
    EnsureLoaded();
    const auto margins = Runtime().WindowFrameMargins();
    return OuterTwips(Design().client_height, margins.top() + margins.bottom(), Runtime().Screen().TwipsPerPixelY());
}

int QtForm::OuterTwips(int client, int frame_pixels, int twips_per_pixel) const {
    // A visible form's window adds its frame to the client area; a hidden one has none.
    const int extra = Design().visible_form ? frame_pixels : 0;
    return (forms::Pixels(client, twips_per_pixel) + extra) * twips_per_pixel;
}

}  // namespace selvane::qt
