# The names of the product files that setup.exe carries: the 54 files of the
# install manifest, then the stored-only SETTINGS.INI. The payload build
# includes this file; scripts/release.sh runs it to check a folder of product
# files before it builds anything:
#   cmake -DCURATO_PAYLOAD_DIR=DIR -P payload/names.cmake
# prints a line for each name: the name, then the folder's file for it or "-".
set(PAYLOAD_NAMES
  curatoapp.EXE curatoprint.EXE czimporter.EXE
  HTMLStartPage.htm ExportTabStartPage.htm curatohelp.htm
  Shdocvw.dll curato.dll panecrafter.dll AxInterop.SHDocVw.dll Interop.SHDocVw.dll
  Microsoft.mshtml.dll curato.mdb)
foreach(layout tall_1 tall_2 tall_3 tall_4 wide_1 wide_2 wide_3 wide_4
               site_1 site_2 site_3 site_4 site_5 site_6 site_7 site_8 site_9 site_10 site_11
               site_cream site_tartan site_foggy site_violet site_meadow site_cedar)
  list(APPEND PAYLOAD_NAMES ${layout}.lyo)
endforeach()
foreach(n 01 02 03 04 05 06 07 08 09 10)
  list(APPEND PAYLOAD_NAMES gde_${n}.gde)
endforeach()
list(APPEND PAYLOAD_NAMES azure.wsy cream.wsy tartan.wsy rosy.wsy cedar.wsy
                          bmEmptyPicture.bmp SETTINGS.INI)

# For each payload name, the file of the folder dir that stands for it (names
# match without regard to case; a directory does not count), or "-" where the
# folder has none; the list goes to files_out.
function(payload_files_in dir files_out)
  file(GLOB present RELATIVE ${dir} ${dir}/*)
  set(present_lower "")
  foreach(f ${present})
    string(TOLOWER "${f}" lower)
    list(APPEND present_lower "${lower}")
  endforeach()
  set(files "")
  foreach(name ${PAYLOAD_NAMES})
    string(TOLOWER "${name}" lower)
    list(FIND present_lower "${lower}" i)
    set(file "-")
    if(i GREATER_EQUAL 0)
      list(GET present ${i} file)
      if(IS_DIRECTORY "${dir}/${file}")
        set(file "-")
      endif()
    endif()
    list(APPEND files "${file}")
  endforeach()
  set(${files_out} ${files} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  payload_files_in("${CURATO_PAYLOAD_DIR}" files)
  set(lines "")
  foreach(name file IN ZIP_LISTS PAYLOAD_NAMES files)
    list(APPEND lines "${name} ${file}")
  endforeach()
  list(JOIN lines "\n" text)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${text}")
endif()
