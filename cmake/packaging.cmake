# Install rules and packages.
#
# Linux installs the usual tree: the programs in bin/, the flags manifest in
# share/kelmotra/, manual pages (made from each program's --help with
# help2man) in share/man/man1/, README, LICENSE and CHANGELOG in
# share/doc/kelmotra/; CPack makes the .tar.gz and the .deb of it.
# A Windows edition installs as one flat drop-in folder for a host's
# Resamplers folder: the .exe files, kelmotra.yaml beside kelmotra.exe,
# README and LICENSE.
include(GNUInstallDirs)

set(KELMOTRA_PROGRAMS kelmotra)
foreach(tool kelmotra-frq kelmotra-bend)
  if(TARGET ${tool})
    list(APPEND KELMOTRA_PROGRAMS ${tool})
  endif()
endforeach()

if(WIN32)
  install(TARGETS ${KELMOTRA_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES kelmotra.yaml README.md LICENSE DESTINATION .)
  return()
endif()

install(TARGETS ${KELMOTRA_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES kelmotra.yaml DESTINATION ${CMAKE_INSTALL_DATADIR}/kelmotra)
install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

find_program(KELMOTRA_HELP2MAN help2man)
if(KELMOTRA_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  set(summary_kelmotra "voice resampler: renders one note of a sung part from a voice sample")
  set(summary_kelmotra-frq "prepare and inspect the frequency maps of voice samples")
  set(summary_kelmotra-bend "write and read the pitch-bend texts of kelmotra")
  set(pages)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
  foreach(program ${KELMOTRA_PROGRAMS})
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${KELMOTRA_HELP2MAN} --no-info --no-discard-stderr
              "--name=${summary_${program}}" --output=${page} $<TARGET_FILE:${program}>
      DEPENDS ${program} VERBATIM)
    list(APPEND pages ${page})
  endforeach()
  add_custom_target(man-pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual pages are made or installed")
endif()

set(CPACK_PACKAGE_NAME kelmotra)
set(CPACK_PACKAGE_VENDOR "kelmotra developers")
set(CPACK_PACKAGE_CONTACT "kelmotra developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "voice resampler for note-by-note singing synthesis")
set(CPACK_PACKAGE_DESCRIPTION
    "A host editor starts kelmotra once per note: it time-stretches a recorded voice "
    "sample to the note's length and re-pitches it to the note's pitch and pitch-bend "
    "curve with a phase vocoder that keeps the voice's formants.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_FILE_NAME kelmotra-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The programs are linked statically: the package needs no libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
include(CPack)
