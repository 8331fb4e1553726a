# Packs the 32-bit Windows executable and the README into
# <name>-<version>-win32.zip with CPack. Run in script mode:
#   cmake -DQUILLET_WINDOWS_EXE=<Quillet-1_0_0.exe> -DQUILLET_README=<README.md>
#         -DQUILLET_VERSION=1.0.0 -DQUILLET_PACKAGE_NAME=quillet
#         -DQUILLET_OUTPUT_DIR=<dir> [-DQUILLET_CPACK=<cpack>] -P win32_zip.cmake
# Without an executable it prints why and does nothing (exit 0); an executable
# that is not a 32-bit x86 Windows program is an error.
cmake_minimum_required(VERSION 3.25)

foreach(var QUILLET_README QUILLET_VERSION QUILLET_PACKAGE_NAME QUILLET_OUTPUT_DIR)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "win32_zip: ${var} is not set")
  endif()
endforeach()
if(NOT QUILLET_CPACK)
  get_filename_component(cmake_bin_dir "${CMAKE_COMMAND}" DIRECTORY)
  set(QUILLET_CPACK "${cmake_bin_dir}/cpack")
endif()

if("${QUILLET_WINDOWS_EXE}" STREQUAL "")
  message(STATUS "skipped: no Windows executable given (configure with -DQUILLET_WINDOWS_EXE=<path to Quillet-1_0_0.exe>); no zip made")
  return()
endif()
if(NOT EXISTS "${QUILLET_WINDOWS_EXE}" OR IS_DIRECTORY "${QUILLET_WINDOWS_EXE}")
  message(STATUS "skipped: the Windows executable ${QUILLET_WINDOWS_EXE} does not exist (yet); no zip made")
  return()
endif()

# A PE file: "MZ" at 0, the offset of the "PE\0\0" signature at 0x3C, and the
# machine type i386 (0x014C) right behind the signature.
file(READ "${QUILLET_WINDOWS_EXE}" dos_header LIMIT 64 HEX)
string(SUBSTRING "${dos_header}" 0 4 mz)
if(NOT mz STREQUAL "4d5a")
  message(FATAL_ERROR "win32_zip: ${QUILLET_WINDOWS_EXE} is not a Windows executable")
endif()
string(SUBSTRING "${dos_header}" 120 8 pe_offset_le)   # bytes 0x3C..0x3F, little endian
set(pe_offset_hex "")
foreach(i 6 4 2 0)
  string(SUBSTRING "${pe_offset_le}" ${i} 2 byte)
  string(APPEND pe_offset_hex "${byte}")
endforeach()
math(EXPR pe_offset "0x${pe_offset_hex}")
file(READ "${QUILLET_WINDOWS_EXE}" pe_header OFFSET ${pe_offset} LIMIT 6 HEX)
if(NOT pe_header STREQUAL "504500004c01")
  message(FATAL_ERROR "win32_zip: ${QUILLET_WINDOWS_EXE} is not a 32-bit x86 Windows program (PE header ${pe_header})")
endif()

set(package_file_name "${QUILLET_PACKAGE_NAME}-${QUILLET_VERSION}-win32")
set(work_dir "${QUILLET_OUTPUT_DIR}/_win32_zip")
set(stage_dir "${work_dir}/stage")
file(REMOVE_RECURSE "${work_dir}")
file(MAKE_DIRECTORY "${stage_dir}")

file(COPY_FILE "${QUILLET_WINDOWS_EXE}" "${stage_dir}/Quillet-1_0_0.exe")
# The README with Windows line ends, as README.txt so that it opens in Notepad.
file(READ "${QUILLET_README}" readme)
string(REPLACE "\r\n" "\n" readme "${readme}")
string(REPLACE "\n" "\r\n" readme "${readme}")
file(WRITE "${stage_dir}/README.txt" "${readme}")

file(WRITE "${work_dir}/CPackConfig.cmake" "
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME \"${QUILLET_PACKAGE_NAME}\")
set(CPACK_PACKAGE_VERSION \"${QUILLET_VERSION}\")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY \"Quillet for 32-bit Windows\")
set(CPACK_PACKAGE_DESCRIPTION \"Quillet rewrites the line ends of text files in place.\")
set(CPACK_PACKAGE_FILE_NAME \"${package_file_name}\")
set(CPACK_INSTALL_CMAKE_PROJECTS \"\")
set(CPACK_INSTALLED_DIRECTORIES \"${stage_dir};.\")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY \"${work_dir}/out\")
")
execute_process(
  COMMAND "${QUILLET_CPACK}" --config "${work_dir}/CPackConfig.cmake"
  RESULT_VARIABLE cpack_result
  OUTPUT_VARIABLE cpack_output
  ERROR_VARIABLE cpack_output)
if(NOT cpack_result EQUAL 0 OR NOT EXISTS "${work_dir}/out/${package_file_name}.zip")
  message(FATAL_ERROR "win32_zip: cpack failed:\n${cpack_output}")
endif()
file(RENAME "${work_dir}/out/${package_file_name}.zip" "${QUILLET_OUTPUT_DIR}/${package_file_name}.zip")
file(REMOVE_RECURSE "${work_dir}")
message(STATUS "Windows zip: ${QUILLET_OUTPUT_DIR}/${package_file_name}.zip")
