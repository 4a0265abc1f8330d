# The companion's Firefox package, made from the one source at build time: the same scripts
# and options page; a manifest with Firefox's add-on id and a background script in place of
# the service worker (Firefox runs no extension service workers), without Chromium's key.
#   cmake -DSOURCE=extension -DOUTPUT=<build>/resources -DADDON_ID=… -P FirefoxCompanion.cmake
file(READ ${SOURCE}/manifest.json manifest)
string(JSON manifest REMOVE "${manifest}" key)
string(JSON manifest REMOVE "${manifest}" minimum_chrome_version)
string(JSON manifest SET "${manifest}" background "{\"scripts\": [\"background.js\"]}")
string(JSON manifest SET "${manifest}" browser_specific_settings
  "{\"gecko\": {\"id\": \"${ADDON_ID}\", \"strict_min_version\": \"115.0\"}}")

set(folder ${OUTPUT}/Firefox)
file(REMOVE_RECURSE ${folder})
file(COPY ${SOURCE}/ DESTINATION ${folder})
file(WRITE ${folder}/manifest.json "${manifest}\n")
file(GLOB_RECURSE files RELATIVE ${folder} ${folder}/*)
list(SORT files)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${OUTPUT}/tessarine-companion-firefox.xpi --format=zip
          ${files}
  WORKING_DIRECTORY ${folder}
  RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
  message(FATAL_ERROR "could not pack the Firefox companion")
endif()
