# The program's core without Qt: blocklist, connection logging, settings and the driver client.
# Each of fv_gui/<dir>/CMakeLists.txt adds its sources with target_sources(fvcore PRIVATE ...).
add_library(fvcore STATIC)
target_include_directories(fvcore PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(fvcore PUBLIC fv_platform fv_registry)
