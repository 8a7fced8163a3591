# Pictures for a toolkit without SVG (the Windows build): each SVG drawn into PNG on the
# build machine with rsvg-convert (Debian's librsvg2-bin) and put among the resources.
#
#   kestrane_png_pictures(<target> <resource name> PREFIX <prefix> SVGS <file.svg>...)
#     each picture at its own size as <prefix>/<name>.png and at twice it as
#     <prefix>/<name>@2x.png, beside the SVG's own name
#   kestrane_png_icon(<target> <resource name> PREFIX <prefix> SVG <file.svg> SIZES <n>...
#                     [ICO <file.ico>])
#     the picture square at each size as <prefix>/<name>-<n>.png, and optionally all of
#     them in one Windows icon file (icotool, Debian's icoutils)
function(kestrane_png_pictures target name)
  cmake_parse_arguments(ARG "" "PREFIX" "SVGS" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(pngs)
  foreach(svg ${ARG_SVGS})
    get_filename_component(base ${svg} NAME_WLE)
    get_filename_component(path ${svg} ABSOLUTE)
    add_custom_command(OUTPUT ${out}/${base}.png ${out}/${base}@2x.png
      COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
      COMMAND ${KESTRANE_RSVG} -z 1 -o ${out}/${base}.png ${path}
      COMMAND ${KESTRANE_RSVG} -z 2 -o ${out}/${base}@2x.png ${path}
      DEPENDS ${path} VERBATIM)
    list(APPEND pngs ${out}/${base}.png ${out}/${base}@2x.png)
  endforeach()
  qt_add_resources(${target} ${name} PREFIX ${ARG_PREFIX} BASE ${out} FILES ${pngs})
endfunction()

function(kestrane_png_icon target name)
  cmake_parse_arguments(ARG "" "PREFIX;SVG;ICO" "SIZES" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name})
  get_filename_component(path ${ARG_SVG} ABSOLUTE)
  get_filename_component(base ${ARG_SVG} NAME_WLE)
  set(pngs)
  foreach(size ${ARG_SIZES})
    add_custom_command(OUTPUT ${out}/${base}-${size}.png
      COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
      COMMAND ${KESTRANE_RSVG} -w ${size} -h ${size} -o ${out}/${base}-${size}.png ${path}
      DEPENDS ${path} VERBATIM)
    list(APPEND pngs ${out}/${base}-${size}.png)
  endforeach()
  qt_add_resources(${target} ${name} PREFIX ${ARG_PREFIX} BASE ${out} FILES ${pngs})
  if(ARG_ICO)
    find_program(KESTRANE_ICOTOOL icotool REQUIRED)
    add_custom_command(OUTPUT ${ARG_ICO}
      COMMAND ${KESTRANE_ICOTOOL} -c -o ${ARG_ICO} ${pngs}
      DEPENDS ${pngs} VERBATIM)
  endif()
endfunction()
