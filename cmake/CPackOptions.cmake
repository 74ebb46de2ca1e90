# Per package kind: the .deb installs below /usr; the .tar.gz holds paths
# relative to the prefix (lib/..., include/, share/morvanfn/), to be unpacked
# into whatever prefix the server uses.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
else()
    set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()
