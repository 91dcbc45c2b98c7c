# Read by cpack when it packs: the shared libraries that dpkg-shlibdeps found
# the programs and the embedded libraries need join the package's Depends.
if(CPACK_GENERATOR STREQUAL "DEB" AND EXISTS "${CPACK_VASKOR_EMBEDDED_DEPENDS}")
    file(STRINGS "${CPACK_VASKOR_EMBEDDED_DEPENDS}" embedded REGEX "^shlibs:Depends=")
    string(REPLACE "shlibs:Depends=" "" embedded "${embedded}")
    if(embedded)
        set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, ${embedded}")
    endif()
endif()
