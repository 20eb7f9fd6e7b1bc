# Precompiled Qt headers. Parsing Qt's headers is most of the work of compiling a file here (a
# test file pulls in all of QtCore through <QtTest>), so each of three sets is compiled once per
# build and every target reuses the set that matches the Qt modules it links: Qt Core alone, the
# widgets, or the widgets and Qt Test. ./run.sh and ./test.sh turn this on; a plain build leaves it
# off, so that it still shows a file that lacks an include of its own.
#
# A set is used only where the macros it was made with are defined the same way (GCC quietly
# parses the headers again otherwise), so each is made by a target of its own that links only
# those modules, and every target that links more reuses it.

function(qelnor_precompiled_set name)
  add_library(qelnor-pch-${name} OBJECT ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  target_link_libraries(qelnor-pch-${name} PRIVATE ${ARGN})
  set_target_properties(qelnor-pch-${name} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endfunction()

# The targets of a folder and of those below it.
function(qelnor_targets_below directory out)
  get_property(found DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    qelnor_targets_below(${subdirectory} below)
    list(APPEND found ${below})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Which set a target can reuse: the one of the richest Qt module it links, directly or through
# the project's libraries.
function(qelnor_precompiled_set_of target out)
  set(set core)
  set(pending ${target})
  set(seen)
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen OR NOT TARGET ${current})
      continue()
    endif()
    list(APPEND seen ${current})
    if(current STREQUAL "Qt6::Test")
      set(set test)
    elseif(current STREQUAL "Qt6::Widgets" AND set STREQUAL "core")
      set(set widgets)
    endif()
    get_target_property(imported ${current} IMPORTED)
    if(NOT imported)
      get_target_property(libraries ${current} LINK_LIBRARIES)
      get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
      foreach(library IN LISTS libraries interface)
        if(library AND NOT library MATCHES "^\\$<")
          list(APPEND pending ${library})
        endif()
      endforeach()
    endif()
  endwhile()
  set(${out} ${set} PARENT_SCOPE)
endfunction()

# Qt Test defines the test's source and build folders for QFINDTESTDATA, different in each folder
# of tests/, and its headers read them; so that one set serves them all, they are left undefined.
# No test looks for data files that way.
function(qelnor_forget_test_folders target)
  target_compile_options(${target} PRIVATE -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)
endfunction()

function(qelnor_precompile_qt_headers)
  set(core <QByteArray> <QHash> <QList> <QObject> <QString> <QStringList> <QTimer>)
  set(widgets ${core} <QApplication> <QComboBox> <QLabel> <QLineEdit> <QMessageBox> <QPushButton>)
  set(test ${widgets} <QtTest>)
  qelnor_precompiled_set(core Qt6::Core)
  qelnor_precompiled_set(widgets Qt6::Widgets)
  set(names core widgets)
  if(TARGET Qt6::Test)
    qelnor_precompiled_set(test Qt6::Widgets Qt6::Test)
    qelnor_forget_test_folders(qelnor-pch-test)
    list(APPEND names test)
  endif()
  foreach(name IN LISTS names)
    target_precompile_headers(qelnor-pch-${name} PRIVATE ${${name}})
  endforeach()

  qelnor_targets_below(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(target MATCHES "^qelnor-pch-" OR NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|OBJECT_LIBRARY)$")
      continue()
    endif()
    # The sets are C++; a target of C sources only (the tests' stand-in for the C library) has
    # nothing to reuse them for.
    get_target_property(sources ${target} SOURCES)
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    if(NOT sources)
      continue()
    endif()
    qelnor_precompiled_set_of(${target} set)
    target_precompile_headers(${target} REUSE_FROM qelnor-pch-${set})
    if(set STREQUAL "test")
      qelnor_forget_test_folders(${target})
    endif()
    # A program's classes are in its .cpp files, which include their own moc output, so the file
    # that gathers the rest holds nothing; loading a set for it would cost more than it saves.
    if(type STREQUAL "EXECUTABLE")
      get_target_property(binary_dir ${target} BINARY_DIR)
      set_source_files_properties(${binary_dir}/${target}_autogen/mocs_compilation.cpp
                                  TARGET_DIRECTORY ${target} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    endif()
  endforeach()
endfunction()
