# The generated descriptions of the engine's differential walk and benchmark
# (tests/fixtures/genicam/make_engine_cameras.py), written into the build tree at
# build time: kzr_engine_cameras makes them, KZR_ENGINE_CAMERAS is their folder.
find_package(Python3 COMPONENTS Interpreter)
set(KZR_ENGINE_CAMERAS ${CMAKE_BINARY_DIR}/engine-cameras)
set(_kzr_generator ${PROJECT_SOURCE_DIR}/tests/fixtures/genicam/make_engine_cameras.py)
if(Python3_Interpreter_FOUND AND NOT TARGET kzr_engine_cameras)
  add_custom_command(OUTPUT ${KZR_ENGINE_CAMERAS}/index.txt ${KZR_ENGINE_CAMERAS}/bench.xml
    COMMAND Python3::Interpreter ${_kzr_generator} ${KZR_ENGINE_CAMERAS}
    DEPENDS ${_kzr_generator} ${PROJECT_SOURCE_DIR}/tests/fixtures/genicam/engine_formulas.txt
    COMMENT "Generating the engine's test descriptions")
  add_custom_target(kzr_engine_cameras DEPENDS ${KZR_ENGINE_CAMERAS}/index.txt)
endif()

# The engine's node map is linked only once its sources are in the tree.
file(GLOB_RECURSE _kzr_genapi_sources ${PROJECT_SOURCE_DIR}/genapi/*.cpp)
set(KZR_ENGINE_READY OFF)
foreach(_src ${_kzr_genapi_sources})
  file(STRINGS ${_src} _hit REGEX "CEngineNodeMap::Load")
  if(_hit)
    set(KZR_ENGINE_READY ON)
  endif()
endforeach()
