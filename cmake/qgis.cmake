# QGIS 3 (Debian's libqgis-dev) and the Qt 5 it is built on: imported targets
# selvane_qgis::core, ::gui and ::analysis, and SELVANE_QGIS_FOUND.

# Versioned targets and functions only: the versionless names (Qt::Widgets) are Qt 6's.
set(QT_NO_CREATE_VERSIONLESS_TARGETS ON)
set(QT_NO_CREATE_VERSIONLESS_FUNCTIONS ON)
find_package(Qt5 5.15 QUIET COMPONENTS Widgets Xml Gui Core Test)
unset(QT_NO_CREATE_VERSIONLESS_TARGETS)
unset(QT_NO_CREATE_VERSIONLESS_FUNCTIONS)
find_path(QGIS_INCLUDE_DIR qgisplugin.h PATH_SUFFIXES qgis)
find_library(QGIS_CORE_LIBRARY qgis_core)
find_library(QGIS_GUI_LIBRARY qgis_gui)
find_library(QGIS_ANALYSIS_LIBRARY qgis_analysis)
set(SELVANE_QGIS_FOUND OFF)
if(Qt5Widgets_FOUND AND Qt5Xml_FOUND AND QGIS_INCLUDE_DIR AND QGIS_CORE_LIBRARY AND QGIS_GUI_LIBRARY
   AND QGIS_ANALYSIS_LIBRARY)
  set(SELVANE_QGIS_FOUND ON)
  # The installation QGIS's headers belong to: its providers are under lib/qgis/plugins.
  get_filename_component(SELVANE_QGIS_PREFIX ${QGIS_INCLUDE_DIR}/../.. ABSOLUTE)
  foreach(part core gui analysis)
    string(TOUPPER ${part} upper)
    add_library(selvane_qgis::${part} UNKNOWN IMPORTED)
    set_target_properties(selvane_qgis::${part} PROPERTIES
      IMPORTED_LOCATION ${QGIS_${upper}_LIBRARY}
      # QGIS's headers are not ours to warn about.
      INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${QGIS_INCLUDE_DIR}
      INTERFACE_INCLUDE_DIRECTORIES ${QGIS_INCLUDE_DIR}
      INTERFACE_LINK_LIBRARIES "Qt5::Widgets;Qt5::Xml;Qt5::Gui;Qt5::Core")
  endforeach()
  set_property(TARGET selvane_qgis::gui APPEND PROPERTY INTERFACE_LINK_LIBRARIES selvane_qgis::core)
  set_property(TARGET selvane_qgis::analysis APPEND PROPERTY INTERFACE_LINK_LIBRARIES selvane_qgis::core)
endif()
