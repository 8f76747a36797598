# Small PE files that carry a version resource and nothing that runs: the
# payloads of the engine's tests and the product's driver stand-ins.
#   telmura_versioned_pe(NAME <target> OUTPUT <file name> VERSION a.b.c.d
#                        COMPANY <text> DESCRIPTION <text> [PRODUCT <text>] [DRIVER])
# builds <file name> into the current binary directory. DRIVER marks the
# version resource as a driver's; the file is a DLL image either way.
# PRODUCT gives the resource a product name.
set(TELMURA_VERSIONED_PE_DIR ${CMAKE_CURRENT_LIST_DIR})

function(telmura_versioned_pe)
  cmake_parse_arguments(PE "DRIVER" "NAME;OUTPUT;VERSION;COMPANY;DESCRIPTION;PRODUCT" "" ${ARGN})
  string(REPLACE "." "," PE_VERSION_COMMAS "${PE_VERSION}")
  if(PE_DRIVER)
    set(PE_FILETYPE "VFT_DRV")
    set(PE_SUBTYPE "VFT2_DRV_INSTALLABLE")
  else()
    set(PE_FILETYPE "VFT_DLL")
    set(PE_SUBTYPE "0")
  endif()
  set(PE_PRODUCT_VALUE "")
  if(PE_PRODUCT)
    set(PE_PRODUCT_VALUE "VALUE \"ProductName\", \"${PE_PRODUCT}\"")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${PE_NAME}_version.rc)
  configure_file(${TELMURA_VERSIONED_PE_DIR}/versioned_pe.rc.in ${rc} @ONLY)
  add_library(${PE_NAME} SHARED ${TELMURA_VERSIONED_PE_DIR}/versioned_pe.c ${rc})
  get_filename_component(base ${PE_OUTPUT} NAME_WE)
  get_filename_component(ext ${PE_OUTPUT} EXT)
  set_target_properties(${PE_NAME} PROPERTIES PREFIX "" OUTPUT_NAME ${base} SUFFIX ${ext}
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  # No C runtime, no imports, no entry point: the image is only read, never run.
  target_link_options(${PE_NAME} PRIVATE -nostdlib -nostartfiles -Wl,-e,0 -s
                      -Wl,--no-insert-timestamp)
endfunction()
