# Installing Quillet like any desktop program, and the packages made from it:
#   cmake --install <build> [--prefix /usr] [--strip]
#       bin/Quillet-1_0_0, the desktop entry, the icon in the hicolor theme
#       (16, 32 and 64 px), the manual page, and the copyright and changelog
#       in share/doc/quillet. Nothing else.
#   cpack --config <build>/CPackConfig.cmake      (or: cmake --build <build> --target package)
#       quillet_<version>_<arch>.deb, prefix /usr, binary stripped, run-time
#       dependencies found by dpkg-shlibdeps.
#   cmake --build <build> --target package_win32
#       quillet-<version>-win32.zip from the 32-bit Windows executable named by
#       -DQUILLET_WINDOWS_EXE=<path>; skipped with a message when it is absent.
# scripts/package does all of it with a Release build.

include(GNUInstallDirs)

set(quillet_packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(quillet_package_name quillet)
set(QUILLET_PACKAGE_MAINTAINER "Tavrik <tavrik@example.org>" CACHE STRING
    "Maintainer of the Debian package, as 'Name <address>'")

# --- The Windows zip: needs no Linux target, only the executable made elsewhere
# (or, in a 32-bit Windows build, the one this build makes).
set(QUILLET_WINDOWS_EXE "" CACHE FILEPATH
    "The 32-bit Quillet-1_0_0.exe to put in quillet-<version>-win32.zip (target package_win32)")
set(quillet_windows_exe "${QUILLET_WINDOWS_EXE}")
set(quillet_windows_exe_target "")
if(quillet_windows_exe STREQUAL "" AND WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND TARGET Quillet-1_0_0)
  set(quillet_windows_exe "$<TARGET_FILE:Quillet-1_0_0>")
  set(quillet_windows_exe_target Quillet-1_0_0)
endif()
add_custom_target(package_win32
  COMMAND ${CMAKE_COMMAND}
          -DQUILLET_WINDOWS_EXE=${quillet_windows_exe}
          -DQUILLET_README=${PROJECT_SOURCE_DIR}/README.md
          -DQUILLET_VERSION=${PROJECT_VERSION}
          -DQUILLET_PACKAGE_NAME=${quillet_package_name}
          -DQUILLET_OUTPUT_DIR=${CMAKE_BINARY_DIR}
          -DQUILLET_CPACK=${CMAKE_CPACK_COMMAND}
          -P ${quillet_packaging_dir}/win32_zip.cmake
  COMMENT "Packing the Windows executable into a zip"
  VERBATIM)
if(quillet_windows_exe_target)
  add_dependencies(package_win32 ${quillet_windows_exe_target})
endif()

# The rest is the Linux desktop program and its Debian package.
if(WIN32 OR NOT TARGET Quillet-1_0_0)
  message(STATUS "Packaging: no Linux Quillet-1_0_0 target in this build, so no install rules and no .deb")
  return()
endif()

# Directories made by the install and by CPack are 0755 whatever the umask.
set(quillet_dir_permissions
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${quillet_dir_permissions})

# --- Files made at build time: the larger icon, the gzipped manual page and changelog.
find_package(Qt6 REQUIRED COMPONENTS Gui)
find_program(QUILLET_GZIP gzip REQUIRED)

add_executable(quillet_scale_icon ${quillet_packaging_dir}/scale_icon.cpp)
target_link_libraries(quillet_scale_icon PRIVATE Qt6::Gui)

set(quillet_gen_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(quillet_icon_src_dir ${PROJECT_SOURCE_DIR}/assets/icon)
set(quillet_icon_64 ${quillet_gen_dir}/quillet-64.png)
set(quillet_man_page ${quillet_gen_dir}/Quillet-1_0_0.1.gz)
# The version has no Debian revision: a native package, whose changelog lintian
# expects as changelog.gz.
set(quillet_changelog ${quillet_gen_dir}/changelog.gz)
configure_file(${quillet_packaging_dir}/changelog ${quillet_gen_dir}/changelog.in @ONLY)

add_custom_command(
  OUTPUT ${quillet_icon_64}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${quillet_gen_dir}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:quillet_scale_icon> ${quillet_icon_src_dir}/quillet-32.png ${quillet_icon_64} 2
  DEPENDS quillet_scale_icon ${quillet_icon_src_dir}/quillet-32.png
  COMMENT "Drawing the 64 px icon from the 32 px one"
  VERBATIM)
add_custom_command(
  OUTPUT ${quillet_man_page}
  COMMAND ${CMAKE_COMMAND} -E copy ${quillet_packaging_dir}/Quillet-1_0_0.1 ${quillet_gen_dir}/Quillet-1_0_0.1
  COMMAND ${QUILLET_GZIP} -9nf ${quillet_gen_dir}/Quillet-1_0_0.1
  DEPENDS ${quillet_packaging_dir}/Quillet-1_0_0.1
  VERBATIM)
add_custom_command(
  OUTPUT ${quillet_changelog}
  COMMAND ${CMAKE_COMMAND} -E copy ${quillet_gen_dir}/changelog.in ${quillet_gen_dir}/changelog
  COMMAND ${QUILLET_GZIP} -9nf ${quillet_gen_dir}/changelog
  DEPENDS ${quillet_gen_dir}/changelog.in
  VERBATIM)
add_custom_target(quillet_package_files ALL
  DEPENDS ${quillet_icon_64} ${quillet_man_page} ${quillet_changelog})

# --- Install rules.
install(TARGETS Quillet-1_0_0 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripping install (cmake --install --strip, and CPack) also drops the
# compiler's notes that plain strip keeps, as Debian's own tools do.
if(CMAKE_STRIP)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:Quillet-1_0_0>\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()")
endif()
install(FILES ${quillet_packaging_dir}/quillet.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32)
  install(FILES ${quillet_icon_src_dir}/quillet-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME quillet.png)
endforeach()
install(FILES ${quillet_icon_64}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
        RENAME quillet.png)
install(FILES ${quillet_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${quillet_packaging_dir}/copyright ${quillet_changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${quillet_package_name})

# --- The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${quillet_package_name})
set(CPACK_PACKAGE_VENDOR "Tavrik")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUILLET_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rewrite the line ends of text files in place")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${quillet_dir_permissions})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLET_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# CPack puts the summary on the Description line; this is the extended part.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Quillet is a small desktop utility with a single window. Files dragged
from the file manager onto its drop area are read whole, their line ends
are rewritten as CR+LF, LF or CR, and each file is written back over
itself; dropped folders are refused. Two options collapse line ends that
a whole file repeats uniformly and leave exactly one line end at the end
of the file. When a batch is done, a message tells how many files were
converted and how many failed.

A file is replaced only once its whole new content has been written, so
a failure leaves the original untouched. The program keeps no settings,
logs or backup copies.")
# Source packages are not made from here.
set(CPACK_SOURCE_GENERATOR "")

include(CPack)
