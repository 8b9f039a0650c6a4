# Writes a QGIS project of the sample map, as the layer panel would hold it:
#   python3 make_project.py SAMPLE_FOLDER PROJECT.qgs
import sys

from qgis.core import QgsApplication, QgsProject, QgsRasterLayer, QgsVectorLayer

sample, path = sys.argv[1], sys.argv[2]
app = QgsApplication([], False)
app.initQgis()
project = QgsProject.instance()
root = project.layerTreeRoot()


def vector(table, name, group, subset=None):
    layer = QgsVectorLayer(f"{sample}/town.gpkg|layername={table}", name, "ogr")
    assert layer.isValid(), table
    if subset:
        layer.setSubsetString(subset)
    project.addMapLayer(layer, False)
    group.addLayer(layer)


vector("roads", "Roads", root)
vector("wells", "Wells", root)
base = root.addGroup("Base")
vector("parcels", "Parcels", base)
vector("buildings", "Buildings", base)
vector("parcels", "Old Parcels", base, "zone = 'old'")
archive = base.addGroup("Archive")
vector("wells", "Old Wells", archive, "zone = 'old'")
imagery = QgsRasterLayer(f"{sample}/imagery.tif", "Imagery")
project.addMapLayer(imagery, False)
root.addLayer(imagery)
assert project.write(path)
app.exitQgis()
