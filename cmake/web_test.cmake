# The browser test of the page. It builds nothing itself: it runs when the
# page has been built (emcmake cmake -S . -B build-web && cmake --build
# build-web), and says that it skipped when the page, Node.js, Chromium or
# the test's npm packages are missing.
function(add_web_page_test page_dir)
  add_test(NAME web_page
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/web/run_page_test.sh ${page_dir}
            ${PROJECT_SOURCE_DIR}/tests/data ${PROJECT_SOURCE_DIR}/examples)
  set_tests_properties(web_page PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
endfunction()
