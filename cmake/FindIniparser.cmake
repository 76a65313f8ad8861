# iniparser ships neither a CMake package nor a pkg-config module on Debian.
find_path(Iniparser_INCLUDE_DIR iniparser.h PATH_SUFFIXES iniparser)
find_library(Iniparser_LIBRARY iniparser)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Iniparser REQUIRED_VARS Iniparser_LIBRARY Iniparser_INCLUDE_DIR)
if(Iniparser_FOUND AND NOT TARGET Iniparser::Iniparser)
    add_library(Iniparser::Iniparser UNKNOWN IMPORTED)
    set_target_properties(Iniparser::Iniparser PROPERTIES
        IMPORTED_LOCATION "${Iniparser_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${Iniparser_INCLUDE_DIR}")
endif()
