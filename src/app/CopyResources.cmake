# Lays out the application's resource folder: everything in the repository's resources/
# except the art sources, plus the generated art and the font when they exist.
# Run with -DSOURCE=... -DDESTINATION=... -DEXTRA="from=name|from=name" (missing extras are skipped).
file(MAKE_DIRECTORY "${DESTINATION}")
file(COPY "${SOURCE}/" DESTINATION "${DESTINATION}" PATTERN "art" EXCLUDE)
string(REPLACE "|" ";" extras "${EXTRA}")
foreach(extra IN LISTS extras)
  string(REPLACE "=" ";" pair "${extra}")
  list(GET pair 0 from)
  list(GET pair 1 name)
  if(EXISTS "${from}")
    configure_file("${from}" "${DESTINATION}/${name}" COPYONLY)
  endif()
endforeach()
