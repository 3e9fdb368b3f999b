# Writes the install record: the small file by which the patch installer (lumaret) finds an
# installed Loftwise. Run by the install step (cmake/install.cmake) with
#   LW_RECORD_PREFIX        the install prefix (may be relative to the working directory)
#   LW_RECORD_PROGRAM_DIR   the program directory below the prefix, e.g. lib/loftwise
# The record directory follows the order in which lumaret searches (docs/lumaret.md):
# $LOFTWISE_INSTALL_RECORD_DIR when set; a staged ($DESTDIR) or root install goes to
# /var/lib/loftwise/install-records; any other install to the user's data folder.

# The GUID lives in lumaret's header only, so both sides always name the same record.
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../src/patch/install_record.h" guid_line
     REGEX "kProductGuid\\[\\] = ")
string(REGEX MATCH "\\{[0-9A-Fa-f-]+\\}" guid "${guid_line}")
if(NOT guid)
  message(FATAL_ERROR "install record: no product GUID found in src/patch/install_record.h")
endif()

get_filename_component(prefix "${LW_RECORD_PREFIX}" ABSOLUTE)
set(location "${prefix}/${LW_RECORD_PROGRAM_DIR}/")
string(REGEX REPLACE "/+" "/" location "${location}")

if(DEFINED ENV{LOFTWISE_INSTALL_RECORD_DIR} AND NOT "$ENV{LOFTWISE_INSTALL_RECORD_DIR}" STREQUAL "")
  set(record_dir "$ENV{LOFTWISE_INSTALL_RECORD_DIR}")
else()
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE id_result)
  if(NOT "$ENV{DESTDIR}" STREQUAL "" OR (id_result EQUAL 0 AND uid STREQUAL "0"))
    set(record_dir "$ENV{DESTDIR}/var/lib/loftwise/install-records")
  elseif(IS_ABSOLUTE "$ENV{XDG_DATA_HOME}")
    set(record_dir "$ENV{XDG_DATA_HOME}/loftwise/install-records")
  elseif(NOT "$ENV{HOME}" STREQUAL "")
    set(record_dir "$ENV{HOME}/.local/share/loftwise/install-records")
  else()
    message(FATAL_ERROR "install record: no HOME; set LOFTWISE_INSTALL_RECORD_DIR")
  endif()
endif()

set(record "${record_dir}/${guid}.ini")
file(WRITE "${record}"
  "; Loftwise install record, written by the install step. lumaret reads InstallLocation.\n"
  "[${guid}]\n"
  "InstallLocation=${location}\n")
message(STATUS "Install record: ${record} (InstallLocation=${location})")
