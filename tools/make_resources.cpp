// Draws the pictures and cursors of the dialogs into a folder (src/resources), and with
// ICON_FOLDER (packaging/icons) the application's icon at the sizes desktops ask for:
//
//   make_resources FOLDER [ICON_FOLDER]
//
// the maker's logo, the buttons' background, the dialog's cursor, the pointing hand, the
// command's icon and the help page, whose picture of the main dialog is taken from the realised dialog.
// Runs without a display (Qt's offscreen platform); the same files every time.

#include <QApplication>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "desktop/desktop_host.h"
#include "dialogs/frmIndex.h"
#include "gis/map_document.h"
#include "picture_tool.h"
#include "qt/qt_form.h"
#include "qt/qt_runtime.h"
#include "resources/command_bitmap.h"
#include "resources/resource_names.h"
#include "state/shared_state.h"

namespace {

using namespace selvane;

const QColor kNavy(0x1F, 0x3A, 0x5F);
const QColor kTeal(0x1C, 0x8C, 0x8C);
const QColor kSteel(0xAB, 0xB5, 0xC1);

QFont Sans(double points, bool bold = false) {
    QFont font(qt::QtRuntime::SansFamily());
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// The maker's emblem: a parcel grid with one parcel picked out, as on the command button.
void DrawEmblem(QPainter& painter, QRectF area) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kNavy, 1.5));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(area, 3, 3);
    const double cell = area.width() / 3;
    painter.setPen(QPen(kSteel.darker(130), 1));
    for (int line = 1; line < 3; ++line) {
        painter.drawLine(QPointF(area.left() + line * cell, area.top() + 2), QPointF(area.left() + line * cell, area.bottom() - 2));
        painter.drawLine(QPointF(area.left() + 2, area.top() + line * cell), QPointF(area.right() - 2, area.top() + line * cell));
    }
    painter.setPen(QPen(kTeal.darker(120), 1.5));
    painter.setBrush(QColor(0x00, 0xE0, 0xE0));
    painter.drawRect(QRectF(area.left() + cell, area.top() + cell, cell, cell));
    painter.restore();
}

// A picture of `size` filled top to bottom with a gradient through `stops` (place, colour).
QImage VerticalGradient(QSize size, std::initializer_list<std::pair<double, QColor>> stops) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient back(0, 0, 0, size.height());
    for (const auto& [at, colour] : stops) back.setColorAt(at, colour);
    painter.fillRect(image.rect(), back);
    return image;
}

QImage Logo() {
    QImage image = VerticalGradient({120, 50}, {{0, QColor(0xF4, 0xF6, 0xF9)}, {1, QColor(0xD8, 0xDE, 0xE6)}});
    QPainter painter(&image);
    DrawEmblem(painter, QRectF(6, 9, 32, 32));
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(kNavy);
    painter.setFont(Sans(11, true));
    painter.drawText(QRectF(42, 6, 76, 22), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tollamar"));
    painter.setPen(kTeal.darker(130));
    painter.setFont(Sans(6.5));
    painter.drawText(QRectF(42, 27, 76, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("GIS tools"));
    painter.setPen(kNavy);
    painter.drawRect(image.rect().adjusted(0, 0, -1, -1));
    return image;
}

QImage ButtonBackground() {
    return VerticalGradient({64, 24}, {{0, QColor(0xF2, 0xF4, 0xF7)},
                                       {0.5, QColor(0xDD, 0xE2, 0xE9)},
                                       {1, QColor(0xC4, 0xCC, 0xD6)}});
}

QImage TransparentCursor() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// An arrow whose tip is the hot spot (10, 10), with a small selection square at its tail.
QImage DialogCursor() {
    QImage image = TransparentCursor();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF tip(selvane::resources::kCursorHotSpotX, selvane::resources::kCursorHotSpotY);
    QPainterPath arrow;
    arrow.moveTo(tip);
    arrow.lineTo(tip + QPointF(0, 16));
    arrow.lineTo(tip + QPointF(4, 12));
    arrow.lineTo(tip + QPointF(7, 18));
    arrow.lineTo(tip + QPointF(9.5, 17));
    arrow.lineTo(tip + QPointF(6.5, 11));
    arrow.lineTo(tip + QPointF(11.5, 11));
    arrow.closeSubpath();
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawPath(arrow);
    painter.setPen(QPen(kTeal.darker(120), 1));
    painter.setBrush(QColor(0x00, 0xE0, 0xE0));
    painter.drawRect(QRectF(tip.x() + 12.5, tip.y() + 14.5, 7, 7));
    return image;
}

// A pointing hand whose fingertip is the hot spot (10, 10): the index finger up, three
// fingers curled beside it, the thumb across the palm, outlined in black on white.
QImage HandCursor() {
    QImage image = TransparentCursor();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double x = selvane::resources::kCursorHotSpotX;
    const double y = selvane::resources::kCursorHotSpotY;
    const auto rounded = [](QRectF area, double radius) {
        QPainterPath path;
        path.addRoundedRect(area, radius, radius);
        return path;
    };
    const QRectF finger(x - 2.2, y, 4.4, 12);
    const QRectF curled[] = {{x + 2.2, y + 6.5, 4, 7}, {x + 6.2, y + 7.5, 4, 6.5}, {x + 10.2, y + 8.5, 3.6, 6}};
    QPainterPath hand = rounded(finger, 2.2);
    for (const auto& knuckle : curled) hand = hand.united(rounded(knuckle, 1.9));
    hand = hand.united(rounded(QRectF(x - 2.2, y + 10, 16, 10), 3.5));  // the palm
    QPainterPath thumb;
    thumb.moveTo(x - 2.2, y + 12);
    thumb.lineTo(x - 6.5, y + 9.5);
    thumb.quadTo(x - 8.5, y + 10.5, x - 7, y + 12.5);
    thumb.lineTo(x - 2.2, y + 17.5);
    hand = hand.united(thumb);
    painter.setPen(QPen(Qt::black, 1.2));
    painter.setBrush(Qt::white);
    painter.drawPath(hand);
    // The creases between the curled fingers and along the finger's base.
    painter.setPen(QPen(QColor(0x50, 0x50, 0x50), 0.9));
    for (const auto& knuckle : curled) painter.drawLine(QPointF(knuckle.left(), knuckle.top() + 1.5), QPointF(knuckle.left(), knuckle.bottom() - 1));
    painter.drawLine(QPointF(x - 2.2, y + 12.5), QPointF(x + 2.2, y + 12.5));
    return image;
}

// The main dialog as it looks on the sample map, with a relationship sentence picked.
QPixmap MainDialogPicture(const QString& resources) {
    auto document = gis::LoadMap({SELVANE_SAMPLE_MAP});
    desktop::DesktopHost host(document, resources);
    host.PressCommand();
    auto& form = *state::MainDialog->Form();
    form.ComboBox("cboSearchLayers").SetText("Parcels");
    form.ComboBox("cboRelationship").SetText("CROSS");
    form.ComboBox("cboMapLayers").SetText("Roads");
    auto* realised = dynamic_cast<qt::QtForm*>(&form);
    return realised ? realised->Widget()->grab() : QPixmap();
}

void Paragraph(QPainter& painter, QRectF area, const QString& text, double points = 8.5) {
    painter.setFont(Sans(points));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
}

// The picture is larger than the help dialog's client area (9285 x 7170 twips), which
// cuts it off at the right and bottom: everything that matters lies inside what shows.
constexpr int kShownWidth = 619;
constexpr int kShownHeight = 478;

QImage HelpPage(const QString& resources) {
    QImage image(733, 533, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // The maker's logo and contact line (the help dialog lays its links over the line).
    painter.drawImage(QPoint(12, 12), Logo());
    painter.setPen(kNavy);
    painter.setFont(Sans(9));
    painter.drawText(QRectF(140, 22, 330, 20), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Tollamar - tools for the desktop GIS"));
    painter.setPen(QColor(0x60, 0x60, 0x60));
    painter.drawText(QRectF(136, 48, 333, 21), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromLatin1(state::kMakerWebHost) + QStringLiteral("    ") +
                         QString::fromLatin1(state::kInfoEmail));
    painter.setPen(QPen(kSteel, 2));
    painter.drawLine(12, 76, kShownWidth - 12, 76);

    // The heading and the overview.
    painter.setPen(kNavy);
    painter.setFont(Sans(20, true));
    const QString heading = QStringLiteral("Selvane");
    painter.drawText(QRectF(12, 84, 300, 36), Qt::AlignLeft | Qt::AlignVCenter, heading);
    const double subtitle_left = 12 + QFontMetricsF(Sans(20, true)).horizontalAdvance(heading) + 12;
    painter.setPen(kTeal.darker(130));
    painter.setFont(Sans(10, true));
    painter.drawText(QRectF(subtitle_left, 93, 300, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Spatial Selection"));
    painter.setPen(Qt::black);
    Paragraph(painter, QRectF(12, 122, kShownWidth - 24, 48),
              QStringLiteral("Selvane selects the features in one layer by their spatial relationship to the "
                             "features in another layer: the parcels that a road crosses, the wells that touch a "
                             "parcel, the buildings wholly contained by a zone. The selection appears on the map "
                             "and its count on the dialog."));

    // The main dialog, taken from the real one.
    const QPixmap dialog = MainDialogPicture(resources);
    const QRect frame(12, 176, 335, 201);
    painter.setPen(QPen(kSteel.darker(140), 1));
    painter.drawRect(frame.adjusted(-1, -1, 0, 0));
    if (!dialog.isNull()) painter.drawPixmap(frame.topLeft(), dialog.scaled(frame.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    painter.setPen(QColor(0x60, 0x60, 0x60));
    painter.setFont(Sans(7.5));
    painter.drawText(QRectF(12, 381, 335, 16), Qt::AlignLeft, QStringLiteral("The Spatial Selection dialog"));

    // How to use it.
    const double left = 362;
    const double width = kShownWidth - 12 - left;
    painter.setPen(kNavy);
    painter.setFont(Sans(11, true));
    painter.drawText(QRectF(left, 172, width, 22), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("How to use it"));
    const QString steps[] = {
        QStringLiteral("Choose two layers and select a relationship: the dialog reads as one sentence, "
                       "\"Select all features in layer\" [Layer #2] \"Whose features\" [relationship] "
                       "\"Features in layer\" [Layer #1]."),
        QStringLiteral("Click \"Select Features\" to begin processing. The status bar shows the progress."),
        QStringLiteral("All features that satisfy the chosen relationship are selected on the map, and "
                       "the Selection Count shows how many."),
    };
    double top = 200;
    for (int step = 0; step < 3; ++step) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(kTeal);
        painter.drawEllipse(QRectF(left, top, 20, 20));
        painter.setPen(Qt::white);
        painter.setFont(Sans(9, true));
        painter.drawText(QRectF(left, top, 20, 20), Qt::AlignCenter, QString::number(step + 1));
        painter.setPen(Qt::black);
        const QRectF text(left + 28, top, width - 28, 120);
        Paragraph(painter, text, steps[step], 8);
        top += std::max(28.0, painter.boundingRect(text, Qt::AlignLeft | Qt::TextWordWrap, steps[step]).height() + 12);
    }
    painter.setPen(QColor(0x60, 0x60, 0x60));
    Paragraph(painter, QRectF(left, top + 4, width, 40),
              QStringLiteral("\"Clear Selection\" clears the selection of every layer of the map."), 8);
    painter.setPen(QPen(kSteel, 2));
    painter.drawLine(12, kShownHeight - 14, kShownWidth - 12, kShownHeight - 14);
    return image;
}

// The command's 16 × 16 bitmap four times as large, each pixel a square, as plug-in lists
// show an icon.
QImage CommandIcon() {
    const auto bitmap = resources::CommandBitmap();
    const QImage image(bitmap.rgb.data(), bitmap.width, bitmap.height, bitmap.width * 3, QImage::Format_RGB888);
    return image.scaled(bitmap.width * 4, bitmap.height * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

bool Save(const QImage& image, const QDir& folder, const char* name, int quality = -1) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (image.save(path, nullptr, quality)) return true;
    std::fprintf(stderr, "make_resources: cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // The icons' folder is the optional second argument; the pictures' the first.
    const QString icon_folder = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    const auto found = tools::PictureFolder(argc == 3 ? 2 : argc, argv, "make_resources", false);
    if (!found) return 2;
    const QDir& folder = *found;
    bool saved = Save(Logo(), folder, resources::kMakerLogo, 95) &&
                 Save(ButtonBackground(), folder, resources::kButtonBackground) &&
                 Save(DialogCursor(), folder, resources::kDialogCursor) &&
                 Save(HandCursor(), folder, resources::kHandCursor) &&
                 Save(CommandIcon(), folder, resources::kCommandIcon);
    // The help page shows the dialog drawn with the pictures just written.
    saved = saved && Save(HelpPage(folder.absolutePath()), folder, resources::kHelpPicture, 92);
    if (saved && !icon_folder.isEmpty()) {
        QDir().mkpath(icon_folder);
        const QImage icon = CommandIcon();
        for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
            const QString name = QStringLiteral("selvane-%1.png").arg(size);
            saved = saved && Save(icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation), QDir(icon_folder),
                                  name.toUtf8().constData());
        }
    }
    return saved ? 0 : 1;
}
