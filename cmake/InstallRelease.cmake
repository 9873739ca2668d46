# Install step: the release's manifest, checked before anything was laid out, and the promo
# record when the release ships one, under the names the application reads.
set(orvek_resources "${CMAKE_INSTALL_PREFIX}/${ORVEK_BUNDLE_RESOURCES}")
file(INSTALL "${ORVEK_PAYLOADS}" DESTINATION "${orvek_resources}" RENAME payloads.json
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
if(NOT ORVEK_PROMO STREQUAL "")
  file(INSTALL "${ORVEK_PROMO}" DESTINATION "${orvek_resources}" RENAME promo.json
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
