# The Debian package of both programs (cpack -G DEB in the build tree, see
# scripts/package.sh): quillmere_<version>_<arch>.deb. The package installs
# under /usr whatever prefix the build tree was configured with.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Dravenholt")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor of network service availability")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillmere watches a list of network services (ICMP echo, HTTP, FTP, POP3,
IMAP4, SMTP, NNTP, DNS, the small TCP services and more), decides when one
goes down and comes back up, and alerts by mail, sound, desktop notification
and pager. Every result is kept in a results database; the state of all hosts
can be exported as XML for a web page.
.
The package holds the desktop program quillmere and the headless runner
quillmere-monitor with its systemd unit. Both programs get the capability
cap_net_raw, so ICMP echo and trace route work for every user.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillmere maintainers <maintainers@quillmere.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link are found by dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: Qt loads the SQLite driver of the results
# database as a plugin at run time, and the maintainer scripts call setcap.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libcap2-bin")
# A results database on a PostgreSQL server needs Qt's PostgreSQL driver.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/data/deb/postinst
  ${CMAKE_SOURCE_DIR}/data/deb/prerm
  ${CMAKE_SOURCE_DIR}/data/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
