# The page: the show on the web backend (velkor-web.js), the same show on the
# headless backend for frames in virtual time (velkor-shot.js, `?shot=T`),
# the page's own files and DATA/ with its index, all in the build folder.

# Linking for both programs: the program's main() on a thread of its own, so
# that the show's loop may block while the browser's thread stays free;
# memory that grows with the drawing size; the file system for DATA/.
set(WEB_LINK_OPTIONS
  -sPROXY_TO_PTHREAD=1
  "-sPTHREAD_POOL_SIZE=Math.min(navigator.hardwareConcurrency||2,16)+8"
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728 -sMAXIMUM_MEMORY=2147483648
  -sTOTAL_STACK=8388608 -sDEFAULT_PTHREAD_STACK_SIZE=4194304
  -sEXIT_RUNTIME=0 -sENVIRONMENT=web,worker -sFORCE_FILESYSTEM=1
  -sEXPORTED_RUNTIME_METHODS=FS,ENV,callMain
  -sINVOKE_RUN=0
  -Wno-pthreads-mem-growth)

file(GLOB WEB_SOURCES CONFIGURE_DEPENDS platform/web/*.cpp)
add_executable(velkor-web ${WEB_SOURCES})
target_include_directories(velkor-web PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(velkor-web PRIVATE velkor_nohooks velkor_show)
target_link_options(velkor-web PRIVATE ${WEB_LINK_OPTIONS} "--js-library=${CMAKE_SOURCE_DIR}/platform/web/web.js")
set_property(TARGET velkor-web APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/platform/web/web.js)

# The headless backend writes PNG files (the dialog shot, unused here).
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng zlib)
file(GLOB VIRTUAL_SOURCES CONFIGURE_DEPENDS platform/virtual/*.cpp)
add_library(velkor_virtual OBJECT ${VIRTUAL_SOURCES})
target_include_directories(velkor_virtual PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(velkor_virtual PUBLIC PkgConfig::PNG Threads::Threads)
add_executable(velkor-shot tools/web/shot.cpp)
target_link_libraries(velkor-shot PRIVATE velkor_virtual velkor_show)
target_link_options(velkor-shot PRIVATE ${WEB_LINK_OPTIONS} "--js-library=${CMAKE_SOURCE_DIR}/tools/web/shot.js")
set_property(TARGET velkor-shot APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/tools/web/shot.js)

# The page's files beside the programs, and the benchmark's page.
file(GLOB PAGE_FILES CONFIGURE_DEPENDS platform/web/page/* bench/web/*.html)
set(PAGE_OUTPUTS)
foreach(file ${PAGE_FILES})
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${name} DEPENDS ${file}
                     COMMAND ${CMAKE_COMMAND} -E copy ${file} ${CMAKE_BINARY_DIR}/${name})
  list(APPEND PAGE_OUTPUTS ${CMAKE_BINARY_DIR}/${name})
endforeach()
add_custom_target(web-page ALL DEPENDS ${PAGE_OUTPUTS})

# DATA/ (made by the native content generator) and the dialog's font, with
# the index the page fetches them by, and compressed copies of what the
# browser downloads; packed on every build (quick, and notices removed files).
add_custom_target(web-pack ALL
  COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/web/pack.py ${CMAKE_SOURCE_DIR}/DATA ${CMAKE_BINARY_DIR}
  VERBATIM)
add_dependencies(web-pack velkor-web velkor-shot web-page)

# For node and the browser: the retained-mode tests (the reference pictures,
# and both pixel loops on any number of workers drawing the same picture), run
# by `make web-tests`, and the render benchmark (bench/web), timed by
# `make bench-web` against its native build.
set(WEB_TOOL_LINK_OPTIONS
  -sPROXY_TO_PTHREAD=1 -sPTHREAD_POOL_SIZE=8
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=268435456 -sMAXIMUM_MEMORY=2147483648
  -sTOTAL_STACK=8388608 -sDEFAULT_PTHREAD_STACK_SIZE=4194304
  -sEXIT_RUNTIME=1 -Wno-pthreads-mem-growth)
add_executable(bench-render-web bench/web/bench_render_web.cpp)
target_link_libraries(bench-render-web PRIVATE velkor_virtual velkor_show)
target_link_options(bench-render-web PRIVATE ${WEB_TOOL_LINK_OPTIONS} -sENVIRONMENT=node,web,worker)

# GoogleTest from its Debian sources (googletest), built for wasm here.
set(GTEST_SOURCES /usr/src/googletest/googletest)
if(EXISTS ${GTEST_SOURCES}/src/gtest-all.cc)
  add_library(web_gtest STATIC ${GTEST_SOURCES}/src/gtest-all.cc ${GTEST_SOURCES}/src/gtest_main.cc)
  target_include_directories(web_gtest PUBLIC ${GTEST_SOURCES}/include PRIVATE ${GTEST_SOURCES})
  add_executable(test-rm-web tests/test_rm.cpp)
  # It checks the rasterizer's texture sampling directly: the rasterizer's SIMD options.
  set_property(SOURCE tests/test_rm.cpp APPEND PROPERTY COMPILE_OPTIONS "-idirafter;/usr/include;-msse4.2")
  target_include_directories(test-rm-web PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(test-rm-web PRIVATE velkor_virtual velkor_show web_gtest)
  target_link_options(test-rm-web PRIVATE ${WEB_TOOL_LINK_OPTIONS} -sENVIRONMENT=node -sNODERAWFS=1)
else()
  message(STATUS "test-rm-web not built: no GoogleTest sources in ${GTEST_SOURCES} (Debian's googletest)")
endif()
