# Run by QGIS (--code) once it has started: presses the Selvane toolbar button, picks the
# entries named in SELVANE_PICKS ("layer 2|relationship|layer 1", and "|removed" to remove
# layer 2 from the project while the dialog is open), presses "Select Features", and writes
# the dialog's count, QGIS's selected ids of layer 2 and the texts of the message boxes
# shown to SELVANE_RESULT, then quits. Anything that goes wrong is written there instead.
import json
import os
import traceback

from qgis.core import QgsProject
from qgis.PyQt.QtCore import QModelIndex, QTimer
from qgis.PyQt.QtGui import QFont, QFontInfo
from qgis.PyQt.QtWidgets import QAbstractButton, QAction, QApplication, QComboBox, QLabel, QMessageBox, QWidget
from qgis.utils import iface


def dialog_window():
    # The window holding the dialog's relationship list: QGIS's own windows may use the same
    # control names.
    for window in QApplication.topLevelWidgets():
        for combo in window.findChildren(QComboBox, "cboRelationship"):
            if combo.findText("INTERSECT") >= 0:
                return window
    raise RuntimeError("the Selvane dialog is not open")


def widget(kind, name):
    found = dialog_window().findChild(kind, name)
    if found is None:
        raise RuntimeError(f"no {kind.__name__} named {name} in the dialog")
    return found


def pick(name, text):
    combo = widget(QComboBox, name)
    index = combo.findText(text)
    if index < 0:
        raise RuntimeError(f"{name} has no entry {text}: {[combo.itemText(i) for i in range(combo.count())]}")
    combo.setCurrentIndex(index)
    combo.activated.emit(index)


# The dialog's fonts as its design gives them (MS Sans Serif 8.25 pt bold, the count 12 pt,
# the help button 9.75 pt regular), whatever QGIS's window and style sheet give its own
# widgets: what does not match, as "name: what".
DESIGN_POINTS = {"lblCount": 12.0, "btnHelp2": 9.75}
DESIGN_REGULAR = {"btnHelp2"}
NAMES = ["Frame1", "Frame2", "Label4", "Label5", "Label6", "Label8", "lblCount", "txtVersion", "cboSearchLayers",
         "cboRelationship", "cboMapLayers", "Command1", "btnNext", "btnHelp2"]


def font_faults():
    faults = []
    # The face MS Sans Serif stands for on this machine, as Qt resolves it outside QGIS's window.
    substitute = QFontInfo(QFont("MS Sans Serif")).family()
    for name in NAMES:
        found = dialog_window().findChild(QWidget, name)
        if found is None:
            faults.append(f"{name}: missing")
            continue
        font = found.font()
        shown = QFontInfo(font)
        bold = name not in DESIGN_REGULAR
        points = DESIGN_POINTS.get(name, 8.25)
        if font.family() != "MS Sans Serif" or abs(font.pointSizeF() - points) > 0.01 or font.bold() != bold:
            faults.append(f"{name}: asked {font.family()} {font.pointSizeF()} pt bold={font.bold()}")
        if shown.family() != substitute or shown.bold() != bold:
            faults.append(f"{name}: drawn in {shown.family()} bold={shown.bold()}, not {substitute}")
    return faults


# Message boxes are modal: each is noted and closed, as a user reads and closes it.
boxes = []


def close_message_boxes():
    for window in QApplication.topLevelWidgets():
        if isinstance(window, QMessageBox) and window.isVisible():
            boxes.append(window.text())
            window.done(QMessageBox.Ok)
    QTimer.singleShot(100, close_message_boxes)


def press():
    result = {"boxes": boxes}
    try:
        layer2, relation, layer1, *removed = os.environ["SELVANE_PICKS"].split("|")
        actions = [a for a in iface.mainWindow().findChildren(QAction) if a.objectName() == "Tollamar_Selvane"]
        if not actions:
            raise RuntimeError("the Selvane plugin put no action in QGIS's window")
        if actions[0] not in iface.pluginToolBar().actions():
            raise RuntimeError("the Selvane action is not on the plugins toolbar")
        actions[0].trigger()
        result["font_faults"] = font_faults()
        pick("cboSearchLayers", layer2)
        pick("cboRelationship", relation)
        pick("cboMapLayers", layer1)
        if removed:
            QgsProject.instance().removeMapLayer(QgsProject.instance().mapLayersByName(layer2)[0].id())
            QApplication.processEvents()
        widget(QAbstractButton, "btnNext").click()
        result["count"] = widget(QLabel, "lblCount").text()
        layers = QgsProject.instance().mapLayersByName(layer2)
        result["ids"] = sorted(layers[0].selectedFeatureIds()) if layers else []
        if os.environ.get("SELVANE_SCREENSHOT"):
            iface.mapCanvas().zoomToFullExtent()
            iface.mapCanvas().refresh()
            QTimer.singleShot(1500, finish_with_picture)
            with open(os.environ["SELVANE_RESULT"], "w") as out:
                json.dump(result, out)
            return
    except Exception:
        result["error"] = traceback.format_exc()
    with open(os.environ["SELVANE_RESULT"], "w") as out:
        json.dump(result, out)
    quit_qgis()


def quit_qgis():
    # QGIS 3.22 dies when it deletes its project at exit while a layer is current in the
    # layer panel (its style dock is gone by then), plugin or none. With no current layer it
    # ends cleanly, and a crash at exit is a fault of the plugin's.
    iface.layerTreeView().setCurrentIndex(QModelIndex())
    QApplication.exit(0)


def finish_with_picture():
    # QGIS's window with the dialog over it, as a user sees them.
    area = iface.mainWindow().frameGeometry()
    QApplication.primaryScreen().grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(
        os.environ["SELVANE_SCREENSHOT"])
    quit_qgis()


QTimer.singleShot(100, close_message_boxes)
QTimer.singleShot(500, press)
