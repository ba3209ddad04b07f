# Makes the Debian package into FOLDER for the package's tests, with the
# clean environment the tests give the programs they run:
#   cmake -DCPACK=... -DCONFIG=.../CPackConfig.cmake -DFOLDER=... -P make_test_package.cmake
file(REMOVE_RECURSE ${FOLDER})
execute_process(COMMAND env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin ${CPACK} -G DEB --config ${CONFIG} -B ${FOLDER}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${result}")
endif()
