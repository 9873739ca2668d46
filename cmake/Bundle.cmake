# The application laid out as a macOS bundle by `cmake --install`: "Contents/MacOS" with the
# executable, "Contents/Info.plist" and "Contents/Resources" with everything the wizard reads.
# On a Mac this is the bundle that gets signed; elsewhere the same tree under the prefix.
if(NOT TARGET orvek-setup)
  return()
endif()

set(ORVEK_BUNDLE_NAME "Орвек" CACHE STRING "File name of the application bundle, without .app")
set(ORVEK_BUNDLE_IDENTIFIER "ru.orvek.OpenCodeSetup" CACHE STRING "The bundle's CFBundleIdentifier")
if(CMAKE_OSX_DEPLOYMENT_TARGET)
  set(orvek_macos_minimum "${CMAKE_OSX_DEPLOYMENT_TARGET}")
else()
  set(orvek_macos_minimum "12.0")
endif()
set(ORVEK_MACOS_MINIMUM "${orvek_macos_minimum}" CACHE STRING "The bundle's LSMinimumSystemVersion")
# Release values, also accepted at install time: cmake -DORVEK_PAYLOADS=FILE -P cmake_install.cmake
set(ORVEK_PAYLOADS "" CACHE FILEPATH "The release's payloads.json, made by orvek-payloads")
set(ORVEK_PROMO "" CACHE FILEPATH "The release's promo.json, when it ships one")

set(ORVEK_BUNDLE_EXECUTABLE orvek-setup)
set(orvek_contents "${ORVEK_BUNDLE_NAME}.app/Contents")
configure_file(${CMAKE_CURRENT_LIST_DIR}/Info.plist.in ${CMAKE_BINARY_DIR}/bundle/Info.plist
  @ONLY)

# What the install scripts below need; values given on the install command line win.
install(CODE "
set(ORVEK_BUNDLE_RESOURCES \"${orvek_contents}/Resources\")
set(ORVEK_PAYLOADS_TOOL \"$<TARGET_FILE:orvek-payloads>\")
set(ORVEK_FONT_FILE \"${ORVEK_FONT_SOURCE}\")
if(NOT DEFINED ORVEK_PAYLOADS)
  set(ORVEK_PAYLOADS \"${ORVEK_PAYLOADS}\")
endif()
if(NOT DEFINED ORVEK_PROMO)
  set(ORVEK_PROMO \"${ORVEK_PROMO}\")
endif()")
# Refuses before anything is laid out: a bundle without its release values could install nothing.
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/CheckRelease.cmake)

install(TARGETS orvek-setup RUNTIME DESTINATION "${orvek_contents}/MacOS")
install(FILES ${CMAKE_BINARY_DIR}/bundle/Info.plist DESTINATION "${orvek_contents}")
# The art's vector source stays behind; its rasterised PNGs and the font come from the build.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/ DESTINATION "${orvek_contents}/Resources"
  PATTERN art EXCLUDE)
install(FILES ${ORVEK_ART_1X} ${ORVEK_ART_2X} DESTINATION "${orvek_contents}/Resources")
install(FILES ${ORVEK_FONT_SOURCE} DESTINATION "${orvek_contents}/Resources"
  RENAME Onest-Regular.ttf)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallRelease.cmake)
