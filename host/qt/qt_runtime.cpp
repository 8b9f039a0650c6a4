#include "qt/qt_runtime.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

#include "forms/printable_text.h"
#include "forms/twips.h"
#include "qt/qt_form.h"
#include "qt/qt_versions.h"

namespace selvane::qt {

// The screen object: sizes from the primary screen, twips per pixel from its logical
// dots per inch, and the pointer as an override cursor over every window of the process.
class QtRuntime::ScreenObject : public platform::IScreen {
public:
    ~ScreenObject() override { SetMousePointer(platform::kPointerDefault); }

    int Width() const override { return Geometry().width() * TwipsPerPixelX(); }
    int Height() const override { return Geometry().height() * TwipsPerPixelY(); }
    int TwipsPerPixelX() const override { return forms::TwipsPerPixel(DotsPerInch(true)); }
    int TwipsPerPixelY() const override { return forms::TwipsPerPixel(DotsPerInch(false)); }
    int MousePointer() const override { return m_pointer; }

    void SetMousePointer(int pointer) override {
        const bool busy = pointer == platform::kPointerHourglass;
        if (busy && !m_overridden) {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            m_overridden = true;
        } else if (!busy && m_overridden) {
            QGuiApplication::restoreOverrideCursor();
            m_overridden = false;
        }
        m_pointer = pointer;
    }

private:
    static QRect Geometry() {
        const auto* screen = QGuiApplication::primaryScreen();
        return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    }
    static double DotsPerInch(bool horizontal) {
        const auto* screen = QGuiApplication::primaryScreen();
        if (!screen) return 96.0;
        return horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
    }

    int m_pointer = platform::kPointerDefault;
    bool m_overridden = false;
};

QString QtRuntime::SansFamily() {
    // Liberation Sans has Arial's metrics, the nearest to MS Sans Serif's at small sizes;
    // DejaVu Sans is there on every Debian desktop.
    const QStringList families = FontFamilies();
    for (const char* candidate : {"Liberation Sans", "Arial", "DejaVu Sans"}) {
        if (families.contains(QString::fromLatin1(candidate))) return QString::fromLatin1(candidate);
    }
    return QFont().defaultFamily();
}

QtRuntime::QtRuntime(QString resource_folder)
    : m_resource_folder(std::move(resource_folder)),
      m_screen(std::make_unique<ScreenObject>()) {
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), SansFamily());
}

QtRuntime::~QtRuntime() = default;

std::shared_ptr<platform::IForm> QtRuntime::CreateForm(const platform::FormDesign& design,
                                                       platform::FormEvents events) {
    return std::make_shared<QtForm>(design, std::move(events), weak_from_this());
}

platform::IScreen& QtRuntime::Screen() { return *m_screen; }

void QtRuntime::MessageBox(const std::string& text, const std::string& title) {
    // A message may quote names from the map: shown with what would reorder or hide text
    // escaped, its lines kept.
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(forms::Printable(title)),
                    QString::fromStdString(forms::PrintableLines(text)),
                    QMessageBox::Ok, QApplication::activeWindow() ? QApplication::activeWindow() : m_main_window.data());
    // A message shown during a run must be readable with the busy pointer on.
    box.setCursor(Qt::ArrowCursor);
    // Messages carry names from map documents and data: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtRuntime::ShellOpen(std::intptr_t owner_window, const std::string& target) {
    if (ToShellSink(owner_window, target)) return;
    // The desktop's answer is not examined: a target no program handles does nothing.
    QDesktopServices::openUrl(QUrl(QString::fromStdString(target)));
}

QPixmap QtRuntime::ResourcePixmap(const std::string& file) const {
    if (file.empty()) return {};
    return QPixmap(QDir(m_resource_folder).filePath(QString::fromStdString(file)));
}

QPixmap QtRuntime::DesignPixmap(const platform::Picture& picture) const {
    if (picture.rgb.empty()) return ResourcePixmap(picture.file);
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.rgb.size() < static_cast<std::size_t>(picture.width) * picture.height * 3) {
        return {};
    }
    const QImage image(picture.rgb.data(), picture.width, picture.height, picture.width * 3, QImage::Format_RGB888);
    return QPixmap::fromImage(image.copy());
}

std::int32_t QtRuntime::PictureHandle(const platform::Picture& picture) {
    const bool from_file = picture.rgb.empty();
    if (from_file) {
        const auto known = m_file_handles.find(picture.file);
        if (known != m_file_handles.end()) return known->second;
    }
    const QPixmap pixmap = DesignPixmap(picture);
    if (pixmap.isNull()) return 0;
    const auto handle = m_next_picture++;
    m_pictures.emplace(handle, pixmap);
    if (from_file) m_file_handles.emplace(picture.file, handle);
    return handle;
}

QPixmap QtRuntime::Picture(std::int32_t handle) const {
    const auto found = m_pictures.find(handle);
    return found == m_pictures.end() ? QPixmap() : found->second;
}

}  // namespace selvane::qt
