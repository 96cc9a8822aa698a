// Data sets of a report read through the job's database connection.
#pragma once

#include "common/IBTarvo.h"
#include "report/engine/Layout.h"

namespace tarvo::report {

// Runs each data set's SQL on the connection's default transaction. Named
// parameters the statement does not contain are left out. Fields arrive by
// column kind: integers, floats (scaled numerics too), date-times, text,
// and binary blobs as bytes. Raises db::EDatabaseError with the server's
// message.
class DbDataProvider : public IDataProvider {
 public:
  explicit DbDataProvider(db::TIBRDATABASE& database) : database_(database) {}
  Table Query(const std::string& sql, const std::vector<BoundParam>& params) override;

 private:
  db::TIBRDATABASE& database_;
};

}  // namespace tarvo::report
