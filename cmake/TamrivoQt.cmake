# Chooses the Qt major version once, as QT_VERSION_MAJOR, and finds it.
# -DTAMRIVO_QT=6 or 5 chooses; left empty, Qt 6 when all its modules are
# there, else Qt 5. Everything else uses Qt's versionless targets
# (Qt::Core ...) and commands (qt_add_translation ...).
set(TAMRIVO_QT "" CACHE STRING "Qt major version: 6 or 5 (empty: 6 when found, else 5)")
set_property(CACHE TAMRIVO_QT PROPERTY STRINGS "" 6 5)

set(TAMRIVO_QT_MODULES Core Gui Widgets SerialPort Sql Test LinguistTools)

if(TAMRIVO_QT STREQUAL "")
    # Probed in a directory of its own: a Qt 6 that lacks a module would
    # otherwise leave Qt::Core pointing at Qt 6 before Qt 5 is found.
    add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/qt6probe ${CMAKE_BINARY_DIR}/qt6probe)
    if(TAMRIVO_QT6_COMPLETE)
        set(QT_VERSION_MAJOR 6)
    else()
        set(QT_VERSION_MAJOR 5)
    endif()
elseif(TAMRIVO_QT MATCHES "^[56]$")
    set(QT_VERSION_MAJOR ${TAMRIVO_QT})
else()
    message(FATAL_ERROR "TAMRIVO_QT must be 6, 5 or empty, not '${TAMRIVO_QT}'")
endif()

if(QT_VERSION_MAJOR EQUAL 6)
    set(TAMRIVO_QT_MINIMUM 6.4)
else()
    set(TAMRIVO_QT_MINIMUM 5.15)
endif()
if(CMAKE_CROSSCOMPILING)
    # A Qt built for another system carries no lrelease that runs here: the
    # build machine's own makes the same .qm files.
    list(REMOVE_ITEM TAMRIVO_QT_MODULES LinguistTools)
endif()
find_package(Qt${QT_VERSION_MAJOR} ${TAMRIVO_QT_MINIMUM} REQUIRED COMPONENTS ${TAMRIVO_QT_MODULES})
if(CMAKE_CROSSCOMPILING)
    find_package(Qt${QT_VERSION_MAJOR}LinguistTools REQUIRED NO_CMAKE_FIND_ROOT_PATH
                 PATHS /usr/lib/${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu/cmake /usr/lib64/cmake /usr/lib/cmake)
endif()
message(STATUS "Tamrivo ${PROJECT_VERSION} with Qt ${Qt${QT_VERSION_MAJOR}_VERSION}")
