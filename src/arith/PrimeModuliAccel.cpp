// Accelerator entries of the prime chain. This build has no accelerator, so
// each one only reports its own name.

#include "arith/PrimeModuli.hpp"

namespace Quelt {

void PrimeModuli::execNttBatch() const { throwUnsupportedFunction("execNttBatch"); }
void PrimeModuli::convertNttBatch() const { throwUnsupportedFunction("convertNttBatch"); }
void PrimeModuli::execiNttBatch() const { throwUnsupportedFunction("execiNttBatch"); }
void PrimeModuli::execNttBatchWithSubAndConstMult() const {
    throwUnsupportedFunction("execNttBatchWithSubAndConstMult");
}
void PrimeModuli::discretizeCUDA() const { throwUnsupportedFunction("discretizeCUDA"); }
void PrimeModuli::baseModulusSwitchCUDA() const {
    throwUnsupportedFunction("baseModulusSwitchCUDA");
}
void PrimeModuli::negateCUDA() const { throwUnsupportedFunction("negateCUDA"); }
void PrimeModuli::addCUDA() const { throwUnsupportedFunction("addCUDA"); }
void PrimeModuli::subCUDA() const { throwUnsupportedFunction("subCUDA"); }
void PrimeModuli::multCUDA() const { throwUnsupportedFunction("multCUDA"); }
void PrimeModuli::constMultCUDA() const { throwUnsupportedFunction("constMultCUDA"); }
void PrimeModuli::rescaleCUDA() const { throwUnsupportedFunction("rescaleCUDA"); }
void PrimeModuli::innerProductCUDA() const { throwUnsupportedFunction("innerProductCUDA"); }
void PrimeModuli::mulVectorCUDA() const { throwUnsupportedFunction("mulVectorCUDA"); }
void PrimeModuli::mulAddVectorCUDA() const { throwUnsupportedFunction("mulAddVectorCUDA"); }
void PrimeModuli::tensorCUDA() const { throwUnsupportedFunction("tensorCUDA"); }
void PrimeModuli::constAddBatchCUDA() const { throwUnsupportedFunction("constAddBatchCUDA"); }
void PrimeModuli::constMultBatchCUDA() const { throwUnsupportedFunction("constMultBatchCUDA"); }
void PrimeModuli::subAndConstMultCUDA() const { throwUnsupportedFunction("subAndConstMultCUDA"); }
void PrimeModuli::constMultTwoBatchCUDA() const {
    throwUnsupportedFunction("constMultTwoBatchCUDA");
}
void PrimeModuli::normalizeModCUDA() const { throwUnsupportedFunction("normalizeModCUDA"); }
void PrimeModuli::embeddingToNCUDA() const { throwUnsupportedFunction("embeddingToNCUDA"); }
void PrimeModuli::isZeroCUDA() const { throwUnsupportedFunction("isZeroCUDA"); }
void PrimeModuli::frobeniusMapInNTTCUDA() const {
    throwUnsupportedFunction("frobeniusMapInNTTCUDA");
}
void PrimeModuli::multMonomialCUDA() const { throwUnsupportedFunction("multMonomialCUDA"); }
void PrimeModuli::multMonomialBatchCUDA() const {
    throwUnsupportedFunction("multMonomialBatchCUDA");
}
void PrimeModuli::conjugateInvertCUDA() const { throwUnsupportedFunction("conjugateInvertCUDA"); }
void PrimeModuli::conjugateInvertBatchCUDA() const {
    throwUnsupportedFunction("conjugateInvertBatchCUDA");
}
void PrimeModuli::frobeniusAndInnerProductCUDA() const {
    throwUnsupportedFunction("frobeniusAndInnerProductCUDA");
}
void PrimeModuli::rotMulAddCUDA() const { throwUnsupportedFunction("rotMulAddCUDA"); }
void PrimeModuli::modReductCUDA() const { throwUnsupportedFunction("modReductCUDA"); }
void PrimeModuli::embedPolynomialCUDA() const { throwUnsupportedFunction("embedPolynomialCUDA"); }

} // namespace Quelt
