# The browser test of the page. It builds nothing itself: it runs when the
# page has been built (emcmake cmake -S . -B build-web && cmake --build
# build-web), and says that it skipped when the page, Node.js, Chromium or
# the test's npm packages are missing. CTest shows a skipped test's reason
# only with -V, so the configure step says it too.
function(add_web_page_test page_dir)
  # One entry for each browser and each way of opening the page.
  foreach(browser chromium firefox)
    foreach(from file http)
      add_test(NAME web_page.${browser}_${from}
        COMMAND sh ${PROJECT_SOURCE_DIR}/tests/web/run_page_test.sh ${page_dir}
                ${PROJECT_SOURCE_DIR}/tests/data ${PROJECT_SOURCE_DIR}/examples --browser ${browser} --from ${from})
      set_tests_properties(web_page.${browser}_${from} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS slow)
    endforeach()
  endforeach()
  find_program(SCORE2WAV_NODE node)
  find_program(SCORE2WAV_CHROMIUM chromium)
  set(missing)
  if(NOT EXISTS ${page_dir}/index.html)
    list(APPEND missing "the page in ${page_dir} (apt-get install emscripten, then emcmake cmake -S . -B build-web && cmake --build build-web)")
  endif()
  if(NOT SCORE2WAV_NODE)
    list(APPEND missing "Node.js (apt-get install nodejs npm)")
  endif()
  if(NOT SCORE2WAV_CHROMIUM)
    list(APPEND missing "Chromium (apt-get install chromium)")
  endif()
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/tests/web/node_modules/puppeteer-core)
    list(APPEND missing "puppeteer-core (npm ci --prefix tests/web)")
  endif()
  if(missing)
    list(JOIN missing "; " needs)
    message(STATUS "The page's browser test (ctest entries web_page.*) will say it skipped until it has: ${needs}")
  endif()
endfunction()
