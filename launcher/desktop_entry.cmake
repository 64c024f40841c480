# Writes kestrel's desktop entry for an installed game folder, at install time.
# Exec= quotes the path, since the folder may hold spaces, and escapes what the
# entry format reserves: inside the quotes " ` $ and \ take a backslash, % is
# doubled, and then every backslash is doubled again as in any string value.
function(kestrel_write_desktop_entry template destination game_dir)
  set(exec "${game_dir}/kestrel")
  string(REPLACE "\\" "\\\\" exec "${exec}")
  string(REPLACE "\"" "\\\"" exec "${exec}")
  string(REPLACE "`" "\\`" exec "${exec}")
  string(REPLACE "$" "\\$" exec "${exec}")
  string(REPLACE "%" "%%" exec "${exec}")
  string(REPLACE "\\" "\\\\" exec "${exec}")
  set(KESTREL_EXEC "\"${exec}\"")
  string(REPLACE "\\" "\\\\" KESTREL_INSTALLED_DIR "${game_dir}")
  configure_file("${template}" "${destination}" @ONLY)
endfunction()
