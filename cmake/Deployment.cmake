# Deployment values: set on the cmake command line, compiled into a tiny library of their own so
# that a second set (local test services) can be linked into another executable of the same tree.

set(PLIMBO_RELEASE_SERVICE "https://releases.plimbo.invalid" CACHE STRING "Scheme + host[:port] of the release service")
set(PLIMBO_ANALYTICS_ENDPOINT "https://analytics.plimbo.invalid" CACHE STRING "Scheme + host[:port] of the analytics collection endpoint")
set(PLIMBO_MEASUREMENT_ID "G-0000000000" CACHE STRING "Analytics measurement identifier")
set(PLIMBO_SITE_ORIGIN "https://plimbo.invalid" CACHE STRING "Origin of the installer's web site")
# Paths may start with $XDG_DATA_HOME, $XDG_CACHE_HOME or $HOME (single-quote them in the shell),
# resolved for the user who runs the installer.
if(APPLE)
    set(_plimbo_archive_default "/tmp/Plimbo.tar.gz")
    set(_plimbo_install_default "/Applications/Plimbo.app")
    set(_plimbo_platform_default "CONSOLE_OSX")
else()
    set(_plimbo_archive_default "$XDG_CACHE_HOME/plimbo/Plimbo.tar.gz")
    set(_plimbo_install_default "$XDG_DATA_HOME/plimbo/Plimbo.app")
    set(_plimbo_platform_default "CONSOLE_LINUX")
endif()
set(PLIMBO_ARCHIVE_PATH "${_plimbo_archive_default}" CACHE STRING "Where the finished download is moved")
set(PLIMBO_INSTALL_PATH "${_plimbo_install_default}" CACHE STRING "Where the archive is unpacked")
set(PLIMBO_RELEASE_PLATFORM "${_plimbo_platform_default}" CACHE STRING "The platform whose build the release service is asked for")
set(PLIMBO_LAUNCH_COMMAND "" CACHE STRING "Command line that starts the installed application and returns, as open does (empty: open on macOS, the bundle's program started directly elsewhere)")
set(PLIMBO_EXTRA_CA_FILE "" CACHE STRING "PEM file trusted besides the system's CAs")
set(PLIMBO_UPDATE_PUBLIC_KEY "" CACHE STRING "Raw 32-byte Ed25519 keys, base64, separated by commas, one of which must sign each release (empty: none)")

set(_plimbo_deployment_dir ${CMAKE_CURRENT_LIST_DIR})

function(_plimbo_require_origin name value)
    set(host "([A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?|\\[[0-9A-Fa-f:.]+\\])")
    if(NOT value MATCHES "^https://${host}(:[0-9]+)?$")
        message(FATAL_ERROR "${name} is \"${value}\", which is not an address of the form "
                            "https://host or https://host:port (no path, no trailing slash).")
    endif()
endfunction()

function(_plimbo_c_string out value)
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\\\"" value "${value}")
    set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

# plimbo_add_deployment(<library> RELEASE_SERVICE .. ANALYTICS_ENDPOINT .. MEASUREMENT_ID ..
#                       SITE_ORIGIN .. ARCHIVE_PATH .. INSTALL_PATH .. LAUNCH_COMMAND ..
#                       EXTRA_CA_FILE .. UPDATE_PUBLIC_KEY .. RELEASE_PLATFORM ..)
function(plimbo_add_deployment library)
    set(keys RELEASE_SERVICE ANALYTICS_ENDPOINT MEASUREMENT_ID SITE_ORIGIN ARCHIVE_PATH
             INSTALL_PATH LAUNCH_COMMAND EXTRA_CA_FILE UPDATE_PUBLIC_KEY RELEASE_PLATFORM)
    cmake_parse_arguments(PARSE_ARGV 1 D "" "${keys}" "")
    _plimbo_require_origin(PLIMBO_RELEASE_SERVICE "${D_RELEASE_SERVICE}")
    _plimbo_require_origin(PLIMBO_ANALYTICS_ENDPOINT "${D_ANALYTICS_ENDPOINT}")
    _plimbo_require_origin(PLIMBO_SITE_ORIGIN "${D_SITE_ORIGIN}")
    set(place "^(/|\\$(XDG_DATA_HOME|XDG_CACHE_HOME|HOME)(/|$))")
    if(NOT D_INSTALL_PATH MATCHES "${place}" OR NOT D_ARCHIVE_PATH MATCHES "${place}")
        message(FATAL_ERROR "PLIMBO_INSTALL_PATH and PLIMBO_ARCHIVE_PATH must be absolute paths "
                            "or start with $XDG_DATA_HOME, $XDG_CACHE_HOME or $HOME.")
    endif()
    if(NOT D_RELEASE_PLATFORM)
        set(D_RELEASE_PLATFORM "${PLIMBO_RELEASE_PLATFORM}")
    endif()
    if(NOT D_RELEASE_PLATFORM MATCHES "^[A-Z0-9_]+$")
        message(FATAL_ERROR "PLIMBO_RELEASE_PLATFORM must be upper-case letters, digits and _.")
    endif()
    # Several keys, separated by commas, let one installer take the current key and the next.
    string(REPEAT "[A-Za-z0-9+/]" 43 b64key)
    if(D_UPDATE_PUBLIC_KEY AND NOT D_UPDATE_PUBLIC_KEY MATCHES "^${b64key}=(,${b64key}=)*$")
        message(FATAL_ERROR "PLIMBO_UPDATE_PUBLIC_KEY is not a comma-separated list of base64 "
                            "32-byte keys.")
    endif()
    foreach(key IN LISTS keys)
        _plimbo_c_string(PLIMBO_${key}_LITERAL "${D_${key}}")
    endforeach()
    set(dir ${CMAKE_BINARY_DIR}/deployments/${library})
    configure_file(${_plimbo_deployment_dir}/DeploymentValues.h.in ${dir}/DeploymentValues.h @ONLY)
    # Objects, not an archive: the linker must take them whatever order the libraries come in.
    add_library(${library} OBJECT ${_plimbo_deployment_dir}/../platform/CompiledDeployment.cpp)
    target_include_directories(${library} PRIVATE ${dir})
    target_link_libraries(${library} PUBLIC plimbo_core)
endfunction()

# plimbo_add_local_installer(<executable> <state folder> <port> [<public key>]): the installer
# with every service at https://127.0.0.1:<port> (trusting <state folder>/services/ca.pem), its
# archive in <state folder>/tmp (a shared temporary folder) and its bundle in
# <state folder>/Applications, for the end-to-end tests and the benchmarks.
function(plimbo_add_local_installer executable state port)
    set(key "")
    if(ARGC GREATER 3)
        set(key "${ARGV3}")
    endif()
    plimbo_add_deployment(${executable}_deployment
        RELEASE_SERVICE "https://127.0.0.1:${port}"
        ANALYTICS_ENDPOINT "https://127.0.0.1:${port}"
        MEASUREMENT_ID "G-LOCAL00000"
        SITE_ORIGIN "https://127.0.0.1"
        ARCHIVE_PATH "${state}/tmp/Plimbo.tar.gz"
        INSTALL_PATH "${state}/Applications/Plimbo.app"
        EXTRA_CA_FILE "${state}/services/ca.pem"
        UPDATE_PUBLIC_KEY "${key}")
    add_executable(${executable} ${PROJECT_SOURCE_DIR}/app/main.cpp)
    target_link_libraries(${executable} PRIVATE plimbo_core ${executable}_deployment)
endfunction()
