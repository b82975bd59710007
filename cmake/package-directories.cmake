# Run by CPack after installing into its staging directory: every directory
# of the package becomes rwxr-xr-x, whatever the umask it was created under.
file(GLOB_RECURSE directories LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(directory IN LISTS directories)
  if(IS_DIRECTORY "${directory}")
    file(CHMOD "${directory}" PERMISSIONS
         OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
