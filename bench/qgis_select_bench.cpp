// Selvane inside QGIS against QGIS's own Select by Location, in one QGIS process, on the
// same GeoPackage layers (queries, targets) and relationship:
//
//   qgis_select_bench FILE RELATIONSHIP
//
// Selvane runs as a user runs it (the dialog's lists picked, "Select Features" pressed),
// its rows read through QGIS's provider; then native:selectbylocation selects anew in the
// same layer. Prints both wall times, their ratio and whether the selections are the same
// ids. Runs on Qt's offscreen platform.

#include <qgsapplication.h>
#include <qgsmapcanvas.h>
#include <qgsnativealgorithms.h>
#include <qgsprocessingalgorithm.h>
#include <qgsprocessingcontext.h>
#include <qgsprocessingfeedback.h>
#include <qgsprocessingregistry.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QMainWindow>
#include <QFileInfo>
#include <QStatusBar>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "qgis/qgis_host.h"
#include "qt/qt_form.h"
#include "state/shared_state.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// QGIS's predicate for each relationship, with the query layer as INTERSECT.
const std::map<std::string, int> kPredicates = {{"INTERSECT", 0}, {"WHOLLY CONTAIN", 1}, {"TOUCH", 4},
                                                {"OVERLAP", 5},  {"ARE WHOLLY CONTAINED BY", 6}, {"CROSS", 7}};

bool Pick(selvane::qt::QtForm& form, const char* name, const QString& text) {
    auto* combo = dynamic_cast<QComboBox*>(form.ControlWidget(name));
    const int index = combo ? combo->findText(text) : -1;
    if (index < 0) return false;
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    return true;
}

}  // namespace

// Runs both on the layers of `file`; the project and windows go before QGIS is shut down.
int Compare(const QString& file, const std::string& relation) {
    QgsProject project;
    auto* queries = new QgsVectorLayer(file + "|layername=queries", "queries", "ogr");
    auto* targets = new QgsVectorLayer(file + "|layername=targets", "targets", "ogr");
    if (!queries->isValid() || !targets->isValid()) {
        std::fprintf(stderr, "%s: no queries and targets layers\n", file.toLocal8Bit().constData());
        return 1;
    }
    project.addMapLayers({queries, targets});

    QMainWindow window;
    auto* canvas = new QgsMapCanvas(&window);
    window.setCentralWidget(canvas);
    int status = 0;
    {
        selvane::qgis::QgisHost host(project, {&window, canvas, window.statusBar()});
        host.CommandAction()->trigger();
        auto& form = dynamic_cast<selvane::qt::QtForm&>(*selvane::state::MainDialog->Form());
        if (!Pick(form, "cboSearchLayers", "targets") || !Pick(form, "cboRelationship", QString::fromStdString(relation)) ||
            !Pick(form, "cboMapLayers", "queries")) {
            std::fprintf(stderr, "the dialog does not list the layers\n");
            return 1;
        }
        const auto selvane_start = Clock::now();
        dynamic_cast<QAbstractButton*>(form.ControlWidget("btnNext"))->click();
        const double selvane_seconds = SecondsSince(selvane_start);
        const QgsFeatureIds selvane_ids = targets->selectedFeatureIds();
        // Said at once: QGIS's tool may take far longer.
        const QString name = QFileInfo(file).fileName();
        std::printf("%-28s %-10s selvane %8.2f s (%d)\n", name.toUtf8().constData(), relation.c_str(), selvane_seconds,
                    static_cast<int>(selvane_ids.size()));
        std::fflush(stdout);

        targets->removeSelection();
        std::unique_ptr<QgsProcessingAlgorithm> algorithm(
            QgsApplication::processingRegistry()->createAlgorithmById(QStringLiteral("native:selectbylocation")));
        QgsProcessingContext context;
        context.setProject(&project);
        QgsProcessingFeedback feedback;
        const QVariantMap parameters = {{"INPUT", targets->id()},
                                        {"PREDICATE", QVariantList{kPredicates.at(relation)}},
                                        {"INTERSECT", queries->id()},
                                        {"METHOD", 0}};
        bool ok = false;
        const auto qgis_start = Clock::now();
        algorithm->run(parameters, context, &feedback, &ok);
        const double qgis_seconds = SecondsSince(qgis_start);
        const QgsFeatureIds qgis_ids = targets->selectedFeatureIds();
        if (!ok) {
            std::fprintf(stderr, "native:selectbylocation failed\n");
            status = 1;
        }
        std::printf("%-28s %-10s qgis    %8.2f s (%d)   qgis/selvane %6.1f   same ids: %s\n",
                    name.toUtf8().constData(), relation.c_str(), qgis_seconds, static_cast<int>(qgis_ids.size()),
                    qgis_seconds / selvane_seconds, selvane_ids == qgis_ids ? "yes" : "NO");
        if (selvane_ids != qgis_ids) status = 1;
    }
    return status;
}

int main(int argc, char** argv) {
    if (argc != 3 || !kPredicates.count(argv[2])) {
        std::fprintf(stderr, "usage: qgis_select_bench FILE RELATIONSHIP (INTERSECT, TOUCH, OVERLAP, CROSS, ...)\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const std::string relation = argv[2];
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QgsApplication application(argc, argv, true);
    QgsApplication::setPrefixPath(QStringLiteral(SELVANE_QGIS_PREFIX), true);
    QgsApplication::initQgis();
    QgsApplication::processingRegistry()->addProvider(new QgsNativeAlgorithms(QgsApplication::processingRegistry()));
    const int status = Compare(file, relation);
    QgsApplication::exitQgis();
    return status;
}
