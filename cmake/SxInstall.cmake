# The installed copy ("cmake --install BUILD --prefix P"):
#   P/bin/                 the programs a person runs
#   P/lib/                 the shared stand-in libraries they load (Windows, COM, HotSync, Outlook)
#   P/lib/scribbix/        what the programs copy onto a machine: the conduit, the components, the
#                          add-ins and HotSync's install aide
#   P/libexec/scribbix/    the preview's worker, started by hotsync and sxmachine
#   P/share/scribbix/      the update store template "SXUpdate.pst"
# Every file finds the others relative to itself ($ORIGIN), so the copy can be moved and works
# without the build folder. The programs find their companions with sx/cli/companion_files.h.
include(GNUInstallDirs)

set(SX_INSTALL_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/scribbix)
set(SX_INSTALL_WORKER_DIR ${CMAKE_INSTALL_LIBEXECDIR}/scribbix)
set(SX_INSTALL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/scribbix)

# "$ORIGIN/<the way from `from_dir` to the libraries>", both relative to the prefix.
function(_sx_origin_rpath out from_dir)
  file(RELATIVE_PATH to_libs /prefix/${from_dir} /prefix/${CMAKE_INSTALL_LIBDIR})
  if(to_libs STREQUAL "")
    set(${out} "$ORIGIN" PARENT_SCOPE)
  else()
    set(${out} "$ORIGIN/${to_libs}" PARENT_SCOPE)
  endif()
endfunction()

# The path from the programs' folder to `file` below the prefix: what a program of bin/ adds to its
# own folder to reach it (compile definitions made by sx_companion_files).
function(sx_installed_path out file)
  file(RELATIVE_PATH relative /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${file})
  set(${out} ${relative} PARENT_SCOPE)
endfunction()

function(sx_install_everything)
  set(programs sxmachine hotsync outlook sxfolders sxconfigure sxdemo)
  set(libraries sxwin32 sxcom sxhotsync sxoutlook)
  set(modules SXOut ScribbixOut ScribbixUpdate ScribbixOutlookAddIn ScribbixMonitorAddIn sxinstaide)

  _sx_origin_rpath(program_rpath ${CMAKE_INSTALL_BINDIR})
  _sx_origin_rpath(library_rpath ${CMAKE_INSTALL_LIBDIR})
  _sx_origin_rpath(module_rpath ${SX_INSTALL_MODULE_DIR})
  _sx_origin_rpath(worker_rpath ${SX_INSTALL_WORKER_DIR})
  set_target_properties(${programs} PROPERTIES INSTALL_RPATH "${program_rpath}")
  set_target_properties(${libraries} PROPERTIES INSTALL_RPATH "${library_rpath}")
  # A module is copied onto a machine and loaded there by a program. The loader looks for what the
  # module needs in the run paths of the module, of what loaded it and of the program, as long as
  # none of them is a new-style DT_RUNPATH (which serves only its own object): both carry old-style
  # DT_RPATH, so that the program's path finds the libraries from the machine's folder too.
  set_target_properties(${modules} PROPERTIES INSTALL_RPATH "${module_rpath}")
  set_target_properties(sxpreview_worker PROPERTIES INSTALL_RPATH "${worker_rpath}")
  foreach(target ${programs} sxpreview_worker ${modules})
    target_link_options(${target} PRIVATE "LINKER:--disable-new-dtags")
  endforeach()

  install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS ${libraries} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(TARGETS ${modules} LIBRARY DESTINATION ${SX_INSTALL_MODULE_DIR})
  install(TARGETS sxpreview_worker RUNTIME DESTINATION ${SX_INSTALL_WORKER_DIR})
  install(FILES ${SX_UPDATE_STORE_TEMPLATE} DESTINATION ${SX_INSTALL_DATA_DIR})
endfunction()
