# Read by cpack before it makes each package.

# Every time stamp in a package is the source's, unless SOURCE_DATE_EPOCH
# is set already, so that the same source packaged anywhere, at any time,
# gives the same package to the bit.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  include(${CMAKE_CURRENT_LIST_DIR}/source-date-epoch.cmake)
  set(ENV{SOURCE_DATE_EPOCH} "${MORVANE_SOURCE_DATE}")
endif()

if(CPACK_MORVANE_NO_PACKAGE)
  message(FATAL_ERROR "The Linux packages come from a build with -DMORVANE_STATIC=ON; "
    "docs/packaging.md gives the line for each one.")
endif()

if(CPACK_GENERATOR MATCHES "^(DEB|RPM)$")
  # The .deb and the .rpm take the files laid out for them, not the
  # archive's folder.
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  string(TOLOWER ${CPACK_GENERATOR} own)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_MORVANE_BINARY_DIR};morvane;system;/"
    "${CPACK_MORVANE_BINARY_DIR};morvane;${own};/")
endif()

if(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_PACKAGE_RELOCATABLE OFF)
  # Its %changelog: packaging/changelog's entries, newest first, in rpm's
  # format ("* Day Mon DD YYYY who - version-release", then "- " items).
  file(READ "${CPACK_MORVANE_SOURCE_DIR}/packaging/changelog" text)
  string(ASCII 1 semicolon)
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "%" "%%" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(rpm_changelog "")
  set(items "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[a-z0-9.+-]+ \\(([^)]+)\\)")
      set(version "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^  \\* (.*)")
      string(APPEND items "- ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^    (.*)")
      string(APPEND items "  ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^ -- (.*>)  (.*)")
      set(who "${CMAKE_MATCH_1}")
      execute_process(COMMAND env LC_ALL=C TZ=UTC date -d "${CMAKE_MATCH_2}" "+%a %b %d %Y"
        OUTPUT_VARIABLE day OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
      string(APPEND rpm_changelog "* ${day} ${who} - ${version}-1\n${items}\n")
      set(items "")
    endif()
  endforeach()
  string(STRIP "${rpm_changelog}" rpm_changelog)
  string(REPLACE "${semicolon}" ";" rpm_changelog "${rpm_changelog}")
  file(WRITE "${CPACK_MORVANE_BINARY_DIR}/rpm-changelog" "${rpm_changelog}\n")
  set(CPACK_RPM_CHANGELOG_FILE "${CPACK_MORVANE_BINARY_DIR}/rpm-changelog")
endif()
