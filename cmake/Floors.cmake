# The floors of the source tree, lowest first.  A folder stands only on the
# folders of lower floors: its code includes them and its library links
# them, never a folder of its own floor or of a higher one.  So the house has
# no circle, and the command line (floor 4, beside the window's core) cannot
# reach the window's core.
set(TALVO_FLOORS
  "src/platform src/panel src/image src/protocol src/help" # 0: operating system, the panel interface, pure logic
  "src/serial"                                             # 1: the serial channel
  "src/host"                                               # 2: the download host
  "src/porttest sim"                                       # 3: the port test, the chip simulators
  "src/app src/cli"                                        # 4: the window's core, the command line
  "src/gui")                                               # 5: the widgets

# talvo_floor_of(<folder or include prefix or library> <out>): the floor, or
# -1 when the name is no folder of the table.  Include prefixes are the
# folders' names ("serial" for src/serial); libraries are talvo_<name> (and
# talvo_hexcore of src/image).
function(talvo_floor_of name out)
  set(floor 0)
  set(found -1)
  if(name STREQUAL "talvo_hexcore")
    set(name image)
  endif()
  string(REGEX REPLACE "^talvo_" "" name "${name}")
  foreach(row IN LISTS TALVO_FLOORS)
    string(REPLACE " " ";" folders "${row}")
    foreach(folder IN LISTS folders)
      get_filename_component(short ${folder} NAME)
      if(name STREQUAL folder OR name STREQUAL short)
        set(found ${floor})
      endif()
    endforeach()
    math(EXPR floor "${floor} + 1")
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
